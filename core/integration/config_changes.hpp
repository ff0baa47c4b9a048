// The changes the product makes to other programs' configuration, as pure
// functions of the parsed file: Claude Code's hooks in its settings, and the
// agent server's entry under "mcpServers" (Claude Desktop, Gemini CLI). Every
// change touches only what belongs to the product and keeps everything else.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::Integration {

// The agent server's name in every tool's configuration.
inline constexpr std::string_view kServerName = "zemra-norvo";
// Any hook whose command text contains this belongs to the product.
inline constexpr std::string_view kHookMarker = "zemnorvo hook";

struct HookEvent {
  std::string_view name;
  std::optional<std::string_view> matcher;
};

// Installing and checking both walk this table, in this order. "Task" and
// "Agent" are the sub-agent tool's former and current names.
inline constexpr std::array<HookEvent, 3> kHookEvents{{
    {"SessionStart", std::nullopt},
    {"UserPromptSubmit", std::nullopt},
    {"PreToolUse", "Bash|Task|Agent"},
}};

// {"hooks": [{"type": "command", "command": LINK + " hook", "timeout": 5}]},
// plus "matcher" for an event that has one.
nlohmann::json hookEntry(const HookEvent& event, const std::string& linkPath);

// Whether any object in the entry's "hooks" list has a "command" text
// containing kHookMarker.
bool belongsToProduct(const nlohmann::json& entry);

// For each event of kHookEvents: the product's entries dropped, one new one
// appended after the other tools' entries. A "hooks" value that is not an
// object, or an event value that is not a list, is replaced.
void installHooks(nlohmann::json& settings, const std::string& linkPath);

// Drops the product's entries from every event; empty events and an empty
// "hooks" object are removed. A "hooks" value that is not an object is kept.
void removeHooks(nlohmann::json& settings);

// Whether every event of kHookEvents has an entry of the product.
bool hasHooks(const nlohmann::json& settings);

// Sets "mcpServers"."zemra-norvo" to {"command": LINK, "args": ["mcp"]}; a
// "mcpServers" value that is not an object is replaced.
void addServer(nlohmann::json& config, const std::string& linkPath);

// Removes "mcpServers"."zemra-norvo"; an empty "mcpServers" object is kept
// (and made when absent). A "mcpServers" value that is not an object is kept.
void removeServer(nlohmann::json& config);

// Whether "mcpServers" is an object with the key "zemra-norvo".
bool hasServer(const nlohmann::json& config);

// Whether `text` holds JSON arrays or objects nested deeper than `limit`
// (strings skipped). Such a file is refused before parsing: the parsed value
// is copied and printed by recursion, one call per level.
bool nestsDeeperThan(std::string_view text, int limit);

// Bytes as UTF-8 text, each invalid sequence replaced by U+FFFD.
std::string decodeUtf8(std::string_view bytes);

// The path the login shell's `command -v claude` printed: its output trimmed
// of white space and line breaks, when the status is 0 and it begins with
// "/"; otherwise absent (an alias definition, a greeting, nothing).
std::optional<std::string> claudeFromShell(int status, std::string_view output);

// A program's output as one line for a message: decoded, lines trimmed and
// joined with "; ", at most `maxChars` bytes (cut at a character boundary).
std::string oneLine(std::string_view output, size_t maxChars = 500);

}  // namespace norvo::Integration
