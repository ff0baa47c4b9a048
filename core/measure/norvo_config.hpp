// The owner's configuration: the vocabulary that makes a process an AI agent,
// the AI apps, the apps never proposed for quitting, and project folders.
// One JSON file, "config.json" in the owner's configuration folder
// ($XDG_CONFIG_HOME/ZemraNorvo, where a Linux user looks for it), else the
// copy in the store directory; the defaults for anything missing or broken.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/records/json_codec.hpp"

namespace norvo {

struct NorvoConfig {
  std::vector<std::string> agentCommands;
  std::vector<std::string> agentArgumentMarkers;
  std::vector<std::string> aiApps;
  std::vector<std::string> neverSuggest;
  std::optional<std::vector<std::string>> projectRoots;
  // The hook rewrites agents' build commands to run through the build pool.
  std::optional<bool> rewriteBuilds;

  static const NorvoConfig& defaults();

  // From the configuration folder, else the store directory. The whole
  // default configuration comes back when no file is usable (missing,
  // unreadable, not JSON, a required key missing or of the wrong type): lists
  // are never merged with the defaults.
  static NorvoConfig load();

  // The configuration in force and where it came from: `file` is the file
  // used (absent: the defaults); `ignored` names each file that exists but
  // was not used, and why (not JSON, a key missing or of the wrong type).
  struct Source {
    std::optional<std::filesystem::path> file;
    std::vector<std::string> ignored;
  };
  static NorvoConfig load(const std::vector<std::filesystem::path>& candidates, Source& source);

  friend bool operator==(const NorvoConfig&, const NorvoConfig&) = default;
};

void to_json(nlohmann::json& j, const NorvoConfig& c);
void from_json(const nlohmann::json& j, NorvoConfig& c);

}  // namespace norvo
