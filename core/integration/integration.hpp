// Connects the product to the AI tools the owner uses: puts `zemnorvo` on the
// owner's path, registers the agent server with Claude Code (through its own
// program) and with Claude Desktop, Codex CLI and Gemini CLI (by editing their
// files), and installs the Claude Code hooks; reports what is connected and
// takes all of it back. No state of its own beyond the files it edits.
//
// A file is edited only when it can be read whole as a plain file and parsed:
// a folder, FIFO, link, huge or unparsable file is left byte for byte as it
// is, and the step says so. The first version of each edited file is kept
// beside it with the suffix ".bak-zemnorvo", never overwritten.
#pragma once

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/agent_places.hpp"

namespace norvo::Integration {

inline constexpr std::string_view kBackupSuffix = ".bak-zemnorvo";

struct Context {
  platform::AgentPlaces places;
  // Each run of the Claude Code program, and the login shell's lookup.
  std::chrono::milliseconds programTimeout{30000};
  std::chrono::milliseconds shellTimeout{10000};

  static Context forUser();
};

struct Status {
  bool cliLinked = false;  // something usable at linkPath (a dangling link is not)
  bool claudeCodeMCP = false;
  bool claudeCodeHooks = false;
  bool claudeDesktopInstalled = false;
  bool claudeDesktopMCP = false;
  std::optional<std::string> claudeCLI;
  // Beyond Claude: the other agent programs that read a user file of servers.
  bool codexInstalled = false;
  bool codexMCP = false;
  bool geminiInstalled = false;
  bool geminiMCP = false;

  // The Claude Code registration and the hooks are both present.
  bool connected() const { return claudeCodeMCP && claudeCodeHooks; }
};

void to_json(nlohmann::json& j, const Status& s);
void from_json(const nlohmann::json& j, Status& s);

// What connect or disconnect did: one message per step, in order (a step
// that could not do its part adds a second one saying why), and whether
// every step did its part.
struct Report {
  std::vector<std::string> messages;
  bool complete = true;
};

// home + ".local/bin/zemnorvo".
std::filesystem::path linkPath(const platform::AgentPlaces& places);
std::filesystem::path claudeSettings(const platform::AgentPlaces& places);
std::filesystem::path claudeUserConfig(const platform::AgentPlaces& places);

// The first executable of the places' program paths, else what the login
// shell finds with "command -v claude" (an executable absolute path only).
std::optional<std::string> findClaude(const Context& context);

Status status(const Context& context);

// `executable` is the absolute path of the program the link at linkPath
// leads to; the registrations and hooks name linkPath.
Report connect(const std::string& executable, const Context& context);

Report disconnect(const Context& context);

}  // namespace norvo::Integration
