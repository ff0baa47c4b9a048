#include "cli/mcp_tools.hpp"

#include <cmath>
#include <limits>
#include <set>

#include "core/records/json_codec.hpp"

namespace norvo::mcp {

using nlohmann::json;

ToolResult ToolResult::text(std::string text) {
  ToolResult r;
  r.content.push_back({{"type", "text"}, {"text", std::move(text)}});
  return r;
}

ToolResult ToolResult::structured(const nlohmann::json& object) {
  ToolResult r = text(json_codec::encode(object));
  if (object.is_object()) r.structuredContent = object;
  return r;
}

ToolResult ToolResult::error(std::string message) {
  ToolResult r = text(std::move(message));
  r.isError = true;
  return r;
}

json ToolResult::toJson() const {
  json j = {{"content", content}, {"isError", isError}};
  if (structuredContent) j["structuredContent"] = *structuredContent;
  return j;
}

Param Param::pid(std::string name, std::string description, bool required) {
  Param p;
  p.name = std::move(name);
  p.type = ParamType::Integer;
  p.description = std::move(description);
  p.required = required;
  p.minimum = 1;
  p.maximum = std::numeric_limits<std::int32_t>::max();
  return p;
}

namespace {

const char* typeName(ParamType type) {
  switch (type) {
    case ParamType::Integer: return "integer";
    case ParamType::Number: return "number";
    case ParamType::Boolean: return "boolean";
    case ParamType::String: return "string";
    case ParamType::StringList:
    case ParamType::IntegerList: return "array";
  }
  return "string";
}

const char* typePhrase(ParamType type) {
  switch (type) {
    case ParamType::Integer: return "an integer";
    case ParamType::Number: return "a number";
    case ParamType::Boolean: return "true or false";
    case ParamType::String: return "a string";
    case ParamType::StringList: return "a list of strings";
    case ParamType::IntegerList: return "a list of integers";
  }
  return "a value";
}

json integerBounds(const Param& p) {
  json j = json::object();
  if (p.minimum) j["minimum"] = *p.minimum;
  if (p.maximum) j["maximum"] = *p.maximum;
  return j;
}

// JSON Schema counts 3.0 as an integer; agents sometimes send numbers that way.
std::optional<std::int64_t> asInteger(const json& v) {
  if (v.is_number_integer()) {
    if (v.is_number_unsigned() &&
        v.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    return v.get<std::int64_t>();
  }
  if (v.is_number_float()) {
    double d = v.get<double>();
    if (std::isfinite(d) && std::floor(d) == d && d >= -9.2e18 && d <= 9.2e18)
      return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

[[noreturn]] void reject(const Param& p, const std::string& why) {
  throw ToolError("Invalid argument \"" + p.name + "\": " + why);
}

void checkRange(const Param& p, std::int64_t value, const std::string& what) {
  if ((p.minimum && value < *p.minimum) || (p.maximum && value > *p.maximum)) {
    std::string range;
    if (p.minimum && p.maximum) {
      range = "from " + std::to_string(*p.minimum) + " to " + std::to_string(*p.maximum);
    } else if (p.minimum) {
      range = "at least " + std::to_string(*p.minimum);
    } else {
      range = "at most " + std::to_string(*p.maximum);
    }
    reject(p, what + " must be " + range + " (got " + std::to_string(value) + ").");
  }
}

void checkString(const Param& p, const std::string& value, const std::string& what) {
  if (!validUtf8(value)) reject(p, what + " is not valid UTF-8.");
  if (utf8Length(value) > p.maxLength)
    reject(p, what + " is longer than " + std::to_string(p.maxLength) + " characters.");
  if (!p.allowed.empty()) {
    for (const auto& a : p.allowed)
      if (a == value) return;
    std::string list;
    for (const auto& a : p.allowed) list += (list.empty() ? "\"" : ", \"") + a + "\"";
    reject(p, what + " must be one of " + list + ".");
  }
}

json checkValue(const Param& p, const json& v) {
  switch (p.type) {
    case ParamType::Integer: {
      auto i = asInteger(v);
      if (!i) reject(p, std::string("expected ") + typePhrase(p.type) + ".");
      checkRange(p, *i, "it");
      return *i;
    }
    case ParamType::Number:
      if (!v.is_number() || !std::isfinite(v.get<double>()))
        reject(p, std::string("expected ") + typePhrase(p.type) + ".");
      return v;
    case ParamType::Boolean:
      if (!v.is_boolean()) reject(p, std::string("expected ") + typePhrase(p.type) + ".");
      return v;
    case ParamType::String:
      if (!v.is_string()) reject(p, std::string("expected ") + typePhrase(p.type) + ".");
      checkString(p, v.get_ref<const std::string&>(), "it");
      return v;
    case ParamType::StringList:
    case ParamType::IntegerList: {
      if (!v.is_array()) reject(p, std::string("expected ") + typePhrase(p.type) + ".");
      if (v.size() > p.maxItems)
        reject(p, "at most " + std::to_string(p.maxItems) + " items are accepted.");
      json out = json::array();
      for (std::size_t i = 0; i < v.size(); ++i) {
        std::string what = "item " + std::to_string(i + 1);
        if (p.type == ParamType::StringList) {
          if (!v[i].is_string()) reject(p, what + " is not a string.");
          checkString(p, v[i].get_ref<const std::string&>(), what);
          out.push_back(v[i]);
        } else {
          auto n = asInteger(v[i]);
          if (!n) reject(p, what + " is not an integer.");
          checkRange(p, *n, what);
          out.push_back(*n);
        }
      }
      return out;
    }
  }
  return v;
}

}  // namespace

json inputSchema(const std::vector<Param>& params) {
  json properties = json::object();
  json required = json::array();
  for (const auto& p : params) {
    json prop = {{"type", typeName(p.type)}};
    if (!p.description.empty()) prop["description"] = p.description;
    switch (p.type) {
      case ParamType::Integer: prop.update(integerBounds(p)); break;
      case ParamType::String:
        prop["maxLength"] = p.maxLength;
        if (!p.allowed.empty()) prop["enum"] = p.allowed;
        break;
      case ParamType::StringList:
        prop["maxItems"] = p.maxItems;
        prop["items"] = {{"type", "string"}, {"maxLength", p.maxLength}};
        break;
      case ParamType::IntegerList: {
        prop["maxItems"] = p.maxItems;
        json items = {{"type", "integer"}};
        items.update(integerBounds(p));
        prop["items"] = items;
        break;
      }
      case ParamType::Number:
      case ParamType::Boolean: break;
    }
    properties[p.name] = prop;
    if (p.required) required.push_back(p.name);
  }
  return {{"type", "object"},
          {"properties", properties},
          {"required", required},
          {"additionalProperties", false}};
}

Arguments Arguments::check(const std::vector<Param>& params, const json& arguments) {
  Arguments out;
  if (arguments.is_null()) {
    // A call without arguments is the same as an empty object.
  } else if (!arguments.is_object()) {
    throw ToolError("Invalid arguments: expected a JSON object.");
  } else {
    for (const auto& [key, value] : arguments.items()) {
      const Param* param = nullptr;
      for (const auto& p : params)
        if (p.name == key) param = &p;
      if (!param) {
        std::string known;
        for (const auto& p : params) known += (known.empty() ? "" : ", ") + p.name;
        throw ToolError("Unknown argument \"" + key + "\"" +
                        (known.empty() ? std::string(": this tool takes no arguments.")
                                       : ". Accepted: " + known + "."));
      }
      // An explicit null reads as "not given", as many clients send it for
      // optional fields they leave empty.
      if (value.is_null()) continue;
      out.values_[key] = checkValue(*param, value);
    }
  }
  for (const auto& p : params)
    if (p.required && !out.values_.contains(p.name))
      throw ToolError("Missing required argument \"" + p.name + "\".");
  return out;
}

std::optional<std::int64_t> Arguments::integer(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

std::int64_t Arguments::integer(const std::string& name, std::int64_t fallback) const {
  return integer(name).value_or(fallback);
}

std::optional<double> Arguments::number(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

bool Arguments::boolean(const std::string& name, bool fallback) const {
  auto it = values_.find(name);
  if (it == values_.end() || !it->is_boolean()) return fallback;
  return it->get<bool>();
}

std::optional<std::string> Arguments::string(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::vector<std::string> Arguments::strings(const std::string& name) const {
  std::vector<std::string> out;
  auto it = values_.find(name);
  if (it != values_.end() && it->is_array())
    for (const auto& v : *it)
      if (v.is_string()) out.push_back(v.get<std::string>());
  return out;
}

std::vector<std::int64_t> Arguments::integers(const std::string& name) const {
  std::vector<std::int64_t> out;
  auto it = values_.find(name);
  if (it != values_.end() && it->is_array())
    for (const auto& v : *it)
      if (v.is_number_integer()) out.push_back(v.get<std::int64_t>());
  return out;
}

json Tool::describe() const {
  json j = {{"name", name}, {"description", description}, {"inputSchema", inputSchema(params)}};
  if (!title.empty()) j["title"] = title;
  json annotations = {{"readOnlyHint", readOnly}, {"openWorldHint", false}};
  if (!title.empty()) annotations["title"] = title;
  j["annotations"] = annotations;
  return j;
}

void ToolRegistry::add(Tool tool) {
  if (tool.name.empty()) throw std::invalid_argument("tool without a name");
  if (!tool.handler) throw std::invalid_argument("tool " + tool.name + " has no handler");
  if (tools_.contains(tool.name)) throw std::invalid_argument("tool " + tool.name + " added twice");
  std::set<std::string> names;
  for (const auto& p : tool.params)
    if (!names.insert(p.name).second)
      throw std::invalid_argument("tool " + tool.name + " repeats parameter " + p.name);
  std::string name = tool.name;
  tools_.emplace(std::move(name), std::move(tool));
}

const Tool* ToolRegistry::find(const std::string& name) const {
  auto it = tools_.find(name);
  return it == tools_.end() ? nullptr : &it->second;
}

std::vector<const Tool*> ToolRegistry::all() const {
  std::vector<const Tool*> out;
  for (const auto& [name, tool] : tools_) out.push_back(&tool);
  return out;
}

std::size_t utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

bool validUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0, n = text.size();
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

}  // namespace norvo::mcp
