// `zemnorvo config`: the configuration in force, where it came from, and
// which file was passed over and why, so that a typo in config.json does not
// silently leave the defaults in charge.
#include <cstdio>

#include "cli/commands.hpp"
#include "core/measure/norvo_config.hpp"
#include "core/platform/store_directory.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::cli {

void addConfigCommand(CLI::App& app) {
  auto* cmd =
      app.add_subcommand("config", "Show the configuration in force and where it came from");
  static bool asJson = false;
  cmd->add_flag("--json", asJson, "Print it as JSON");
  cmd->callback([] {
    std::vector<std::filesystem::path> candidates{NorvoStore::configDirectory() / "config.json",
                                                  NorvoStore::directory() / "config.json"};
    NorvoConfig::Source source;
    auto config = NorvoConfig::load(candidates, source);
    if (asJson) {
      nlohmann::json out = {{"config", config}, {"ignored", source.ignored}};
      if (source.file) out["file"] = source.file->string();
      std::printf("%s\n", json_codec::encode(out).c_str());
      return;
    }
    if (source.file)
      std::printf("In force: %s\n", source.file->c_str());
    else
      std::printf("In force: the defaults (no usable %s or %s)\n", candidates[0].c_str(),
                  candidates[1].c_str());
    for (const auto& why : source.ignored) std::printf("Not used: %s\n", why.c_str());
    std::printf("%s\n", nlohmann::json(config).dump(2).c_str());
  });
}

}  // namespace norvo::cli
