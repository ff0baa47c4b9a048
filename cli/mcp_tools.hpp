// The tool table of the agent server: what a tool declares (name, texts, the
// parameters it takes), what its handler receives (checked arguments and a
// context for progress and cancellation) and what it returns. Every tool's
// input schema is generated from its parameter list and every call is checked
// against the same list before the handler runs, so the schema an agent reads
// and the checks it meets can never drift apart.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace norvo::mcp {

// Thrown by a handler (or by the argument checks) for a failure the agent should
// read: it becomes a tool result with isError true and the message as its text.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a tool call returns: content blocks and the error flag. Tools that have
// a JSON answer give it both as text (for agents that read text) and as
// structured content.
struct ToolResult {
  nlohmann::json content = nlohmann::json::array();
  std::optional<nlohmann::json> structuredContent;
  bool isError = false;

  static ToolResult text(std::string text);
  // The object as compact sorted JSON text plus the same object as structured content.
  static ToolResult structured(const nlohmann::json& object);
  static ToolResult error(std::string message);

  // The "result" member of a tools/call response.
  nlohmann::json toJson() const;
};

enum class ParamType { Integer, Number, Boolean, String, StringList, IntegerList };

// One argument of a tool. Limits left absent are not checked, except that every
// string and list has a length cap (text arguments are stored and shown, never
// executed, and nothing unbounded is kept).
struct Param {
  std::string name{};
  ParamType type = ParamType::String;
  std::string description{};
  bool required = false;
  std::optional<std::int64_t> minimum{};  // integers and integer lists
  std::optional<std::int64_t> maximum{};
  std::size_t maxLength = 1000;        // characters of a string or of each list item
  std::size_t maxItems = 100;          // lists
  std::vector<std::string> allowed{};  // strings: the only accepted values when not empty

  // A process id: an integer from 1 to the largest signed 32-bit value.
  static Param pid(std::string name, std::string description, bool required = true);
};

// JSON Schema of a parameter list: an object with properties, required and
// additionalProperties false.
nlohmann::json inputSchema(const std::vector<Param>& params);

// A call's arguments after checking: every key is declared, every value has its
// declared type and lies within its limits, every required key is present.
class Arguments {
 public:
  // Throws ToolError with a sentence naming the first offending argument.
  static Arguments check(const std::vector<Param>& params, const nlohmann::json& arguments);

  bool has(const std::string& name) const { return values_.contains(name); }
  std::optional<std::int64_t> integer(const std::string& name) const;
  std::int64_t integer(const std::string& name, std::int64_t fallback) const;
  std::optional<double> number(const std::string& name) const;
  bool boolean(const std::string& name, bool fallback) const;
  std::optional<std::string> string(const std::string& name) const;
  std::vector<std::string> strings(const std::string& name) const;
  std::vector<std::int64_t> integers(const std::string& name) const;
  const nlohmann::json& raw() const { return values_; }

 private:
  nlohmann::json values_ = nlohmann::json::object();
};

// Offered to a running handler. Long handlers poll cancelled() (or wait through
// sleepFor) and report progress; both are safe from the handler's thread.
class ToolContext {
 public:
  virtual ~ToolContext() = default;
  // True once the client cancelled this call or the server is shutting down.
  virtual bool cancelled() const = 0;
  // Sends notifications/progress when the caller asked for progress; values that
  // do not increase are dropped, since clients require a rising sequence.
  virtual void progress(double progress, std::optional<double> total = std::nullopt,
                        const std::string& message = {}) = 0;
  // Sleeps up to `duration`; returns false as soon as the call is cancelled.
  virtual bool sleepFor(std::chrono::milliseconds duration) = 0;
};

using ToolHandler = std::function<ToolResult(const Arguments&, ToolContext&)>;

struct Tool {
  std::string name{};
  std::string title{};
  std::string description{};
  std::vector<Param> params{};
  ToolHandler handler{};
  bool readOnly = true;  // announced to clients as the readOnlyHint annotation

  // The entry of tools/list.
  nlohmann::json describe() const;
};

// The tools one server offers, listed in name order.
class ToolRegistry {
 public:
  // Throws std::invalid_argument for an empty or repeated name, a missing
  // handler or a repeated parameter name: those are programming errors.
  void add(Tool tool);
  const Tool* find(const std::string& name) const;
  std::vector<const Tool*> all() const;
  bool empty() const { return tools_.empty(); }

 private:
  std::map<std::string, Tool> tools_;
};

// Code points in UTF-8 text (continuation bytes are not counted).
std::size_t utf8Length(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values
// above U+10FFFF).
bool validUtf8(std::string_view text);

}  // namespace norvo::mcp
