#include "core/integration/claude_hook.hpp"

#include <nlohmann/json.hpp>

#include "core/records/json_codec.hpp"

namespace norvo::claude_hook {

namespace {

// "ok" < "busy" < "overloaded" < "critical"; -1 for anything else.
int rank(std::string_view level) {
  if (level == "ok") return 0;
  if (level == "busy") return 1;
  if (level == "overloaded") return 2;
  if (level == "critical") return 3;
  return -1;
}

bool heavyTool(const std::optional<std::string>& tool) {
  return tool && (*tool == "Bash" || *tool == "Task" || *tool == "Agent");
}

std::optional<std::string> text(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// A prompt hook adds to every prompt, so it gets one line of modest length.
std::string firstLine(std::string_view text, std::size_t maxBytes = 300) {
  text = text.substr(0, text.find('\n'));
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "…";
}

std::string context(const std::string& event, const std::string& body) {
  nlohmann::json out = {
      {"hookSpecificOutput", {{"hookEventName", event}, {"additionalContext", body}}}};
  return json_codec::encode(out);
}

}  // namespace

std::optional<Event> parseEvent(std::string_view raw) {
  auto parsed = json_codec::decode(raw);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  auto name = text(*parsed, "hook_event_name");
  if (!name) return std::nullopt;
  Event e;
  e.hookEventName = *name;
  e.toolName = text(*parsed, "tool_name");
  e.sessionId = text(*parsed, "session_id");
  e.cwd = text(*parsed, "cwd");
  e.source = text(*parsed, "source");
  if (auto input = parsed->find("tool_input"); input != parsed->end() && input->is_object()) {
    e.command = text(*input, "command");
    e.toolInput = json_codec::encode(*input);
  }
  return e;
}

bool wantsStatus(const Event& event) {
  return event.hookEventName == "SessionStart" || event.hookEventName == "UserPromptSubmit" ||
         (event.hookEventName == "PreToolUse" && heavyTool(event.toolName));
}

std::optional<std::string> respond(const Event& event, const Status& status) {
  int level = rank(status.level);
  if (level < 0 || !wantsStatus(event)) return std::nullopt;

  if (event.hookEventName == "SessionStart") {
    std::string body = status.summary;
    if (!status.advice.empty()) body += (body.empty() ? "" : "\n") + status.advice;
    if (body.empty()) return std::nullopt;
    return context(event.hookEventName, body);
  }
  if (event.hookEventName == "UserPromptSubmit") {
    if (level < rank("busy")) return std::nullopt;
    std::string line = firstLine(status.summary);
    if (line.empty()) line = "This computer is " + status.level + ".";
    return context(event.hookEventName, line);
  }
  // PreToolUse of a heavy tool. additionalContext reaches the agent without a
  // permission decision, so the tool runs as it would have anyway.
  std::string body;
  if (level >= rank("overloaded")) {
    body = "Warning: this computer is " + status.level + ".";
    const std::string& advice = status.advice.empty() ? status.summary : status.advice;
    if (!advice.empty()) body += " " + advice;
  }
  if (!status.buildAdvice.empty()) body += (body.empty() ? "" : " ") + status.buildAdvice;
  auto input = json_codec::decode(event.toolInput);
  if (!status.rewrittenCommand || !input || !input->is_object())
    return body.empty() ? std::nullopt : std::optional(context(event.hookEventName, body));
  (*input)["command"] = *status.rewrittenCommand;
  nlohmann::json out = {
      {"hookSpecificOutput", {{"hookEventName", event.hookEventName}, {"updatedInput", *input}}}};
  if (!body.empty()) out["hookSpecificOutput"]["additionalContext"] = body;
  return json_codec::encode(out);
}

}  // namespace norvo::claude_hook
