#include "core/measure/norvo_config.hpp"

#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"
#include "core/records/record_fields.hpp"

namespace norvo {

const NorvoConfig& NorvoConfig::defaults() {
  static const NorvoConfig config{{"claude", "codex", "gemini", "aider", "opencode", "goose",
                                   "cursor-agent", "amp", "qwen", "ollama", "llama-server"},
                                  {"@anthropic-ai/claude-code", "claude-code/cli", "@openai/codex",
                                   "@google/gemini-cli", "aider-chat", "bin/aider"},
                                  {"Claude", "ChatGPT", "Codex", "Cursor", "LM Studio", "Ollama",
                                   "Windsurf", "Perplexity", "Copilot", "Zed"},
                                  // The desktop's file managers (by desktop file id) are part of
                                  // the session, as the Finder is elsewhere: quitting one frees
                                  // little and closes the owner's windows.
                                  {"com.vadro.ZemraNorvo", "org.gnome.Nautilus", "org.kde.dolphin",
                                   "nemo", "thunar", "pcmanfm", "caja"},
                                  std::nullopt,
                                  std::nullopt};
  return config;
}

NorvoConfig NorvoConfig::load(const std::vector<std::filesystem::path>& candidates,
                              Source& source) {
  source = {};
  for (const auto& file : candidates) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) continue;
    auto bytes = record_file::readWhole(file, 4u * 1024 * 1024);
    if (!bytes) {
      source.ignored.push_back(file.string() + ": unreadable, too large or not a regular file");
      continue;
    }
    auto parsed = json_codec::decode(*bytes);
    if (!parsed) {
      source.ignored.push_back(file.string() + ": not JSON");
      continue;
    }
    try {
      NorvoConfig config = parsed->get<NorvoConfig>();
      source.file = file;
      return config;
    } catch (const nlohmann::json::exception& e) {
      // "[json.exception.out_of_range.403] key 'aiApps' not found": keep the words.
      std::string why = e.what();
      if (auto end = why.find("] ");
          why.rfind("[json.exception", 0) == 0 && end != std::string::npos)
        why = why.substr(end + 2);
      source.ignored.push_back(file.string() + ": " + why);
    }
  }
  return defaults();
}

NorvoConfig NorvoConfig::load() {
  Source source;
  return load(
      {NorvoStore::configDirectory() / "config.json", NorvoStore::directory() / "config.json"},
      source);
}

constexpr auto norvoConfigFields = record_fields::list(
    record_fields::field("agentCommands", &NorvoConfig::agentCommands),
    record_fields::field("agentArgumentMarkers", &NorvoConfig::agentArgumentMarkers),
    record_fields::field("aiApps", &NorvoConfig::aiApps),
    record_fields::field("neverSuggest", &NorvoConfig::neverSuggest),
    record_fields::field("projectRoots", &NorvoConfig::projectRoots),
    record_fields::field("rewriteBuilds", &NorvoConfig::rewriteBuilds));
void to_json(nlohmann::json& j, const NorvoConfig& c) { norvoConfigFields.write(j, c); }
void from_json(const nlohmann::json& j, NorvoConfig& c) { norvoConfigFields.read(j, c); }

}  // namespace norvo
