// What `zemnorvo hook` answers to Claude Code. Claude Code runs the hook with
// one event as JSON on standard input and reads JSON from standard output; the
// answer adds a line of context for the agent and never blocks anything:
// - "SessionStart": the status line and the advice;
// - "UserPromptSubmit": the status line, only when the machine is busy or worse;
// - "PreToolUse" of Bash, Task or Agent (the sub-agent tool's current and
//   former names): a warning with the advice when overloaded or critical;
// - anything else: no output.
// Pure functions of their inputs; the command reads stdin and the status.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace norvo::claude_hook {

// The fields of a hook event this product reads; others are ignored.
struct Event {
  std::string hookEventName{};            // "hook_event_name"
  std::optional<std::string> toolName{};  // "tool_name", PreToolUse and PostToolUse
  std::optional<std::string> sessionId{};
  std::optional<std::string> cwd{};
  std::optional<std::string> source{};   // SessionStart: "startup", "resume", "clear", "compact"
  std::optional<std::string> command{};  // "tool_input"."command" of Bash
  std::string toolInput{};               // "tool_input" as JSON text, for a rewrite
};

// The machine's state as the hook shows it.
struct Status {
  std::string level{};    // "ok", "busy", "overloaded" or "critical"
  std::string summary{};  // one line, e.g. the digest's status line
  std::string advice{};   // what the agent should do about it
  // For a PreToolUse command that builds: what to say about the build pool,
  // and the command rewritten to run through it (Claude Code 2.1 takes a
  // changed tool input as "updatedInput").
  std::string buildAdvice{};
  std::optional<std::string> rewrittenCommand{};
};

// Absent unless `text` is a JSON object with a string "hook_event_name".
std::optional<Event> parseEvent(std::string_view text);

// True when respond() can print something for this event at some level, so
// the caller measures the machine only when the answer may use it.
bool wantsStatus(const Event& event);

// The exact JSON text to print (without line feed), or absent for no output.
// An unknown level gives no output.
std::optional<std::string> respond(const Event& event, const Status& status);

}  // namespace norvo::claude_hook
