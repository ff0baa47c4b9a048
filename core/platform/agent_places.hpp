// Where the AI tools the product connects to keep their programs and
// configuration on this machine, as a value so tests build a home of their own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace norvo::platform {

struct AgentPlaces {
  std::filesystem::path home;
  // Checked in order for the Claude Code program before asking the login shell.
  std::vector<std::filesystem::path> claudeProgramPaths;
  // The owner's login shell from the password database; empty when unknown.
  std::string loginShell;
  std::filesystem::path claudeDesktopConfig;
  // Any of these existing means Claude Desktop is installed.
  std::vector<std::filesystem::path> claudeDesktopSigns;
  std::filesystem::path codexConfig;     // Codex CLI's config.toml
  std::filesystem::path geminiSettings;  // Gemini CLI's settings.json

  // The current user's places from the environment (HOME, XDG_CONFIG_HOME,
  // XDG_DATA_HOME, XDG_DATA_DIRS, CODEX_HOME) and the password database.
  static AgentPlaces forUser();
};

}  // namespace norvo::platform
