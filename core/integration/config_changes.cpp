#include "core/integration/config_changes.hpp"

#include <cstdint>

namespace norvo::Integration {

using nlohmann::json;

json hookEntry(const HookEvent& event, const std::string& linkPath) {
  json entry = {
      {"hooks",
       json::array({{{"type", "command"}, {"command", linkPath + " hook"}, {"timeout", 5}}})}};
  if (event.matcher) entry["matcher"] = std::string(*event.matcher);
  return entry;
}

bool belongsToProduct(const json& entry) {
  if (!entry.is_object()) return false;
  auto hooks = entry.find("hooks");
  if (hooks == entry.end() || !hooks->is_array()) return false;
  for (const auto& hook : *hooks) {
    if (!hook.is_object()) continue;
    auto command = hook.find("command");
    if (command != hook.end() && command->is_string() &&
        command->get_ref<const std::string&>().find(kHookMarker) != std::string::npos)
      return true;
  }
  return false;
}

namespace {

// The entries of `list` that are not the product's.
json othersOnly(const json& list) {
  json kept = json::array();
  for (const auto& entry : list)
    if (!belongsToProduct(entry)) kept.push_back(entry);
  return kept;
}

}  // namespace

void installHooks(json& settings, const std::string& linkPath) {
  json hooks = json::object();
  if (auto it = settings.find("hooks"); it != settings.end() && it->is_object()) hooks = *it;
  for (const auto& event : kHookEvents) {
    std::string name(event.name);
    json list = json::array();
    if (auto it = hooks.find(name); it != hooks.end() && it->is_array()) list = othersOnly(*it);
    list.push_back(hookEntry(event, linkPath));
    hooks[name] = std::move(list);
  }
  settings["hooks"] = std::move(hooks);
}

void removeHooks(json& settings) {
  auto it = settings.find("hooks");
  if (it == settings.end() || !it->is_object()) return;
  json hooks = json::object();
  for (const auto& [name, list] : it->items()) {
    if (!list.is_array()) {
      hooks[name] = list;  // not a list of entries: none of them can be ours
      continue;
    }
    json kept = othersOnly(list);
    if (!kept.empty()) hooks[name] = std::move(kept);
  }
  if (hooks.empty())
    settings.erase("hooks");
  else
    settings["hooks"] = std::move(hooks);
}

bool hasHooks(const json& settings) {
  auto hooks = settings.find("hooks");
  if (hooks == settings.end() || !hooks->is_object()) return false;
  for (const auto& event : kHookEvents) {
    auto list = hooks->find(std::string(event.name));
    if (list == hooks->end() || !list->is_array()) return false;
    bool found = false;
    for (const auto& entry : *list) found = found || belongsToProduct(entry);
    if (!found) return false;
  }
  return true;
}

void addServer(json& config, const std::string& linkPath) {
  json servers = json::object();
  if (auto it = config.find("mcpServers"); it != config.end() && it->is_object()) servers = *it;
  servers[std::string(kServerName)] = {{"command", linkPath}, {"args", json::array({"mcp"})}};
  config["mcpServers"] = std::move(servers);
}

void removeServer(json& config) {
  auto it = config.find("mcpServers");
  if (it == config.end()) {
    config["mcpServers"] = json::object();
  } else if (it->is_object()) {
    it->erase(std::string(kServerName));
  }
}

bool hasServer(const json& config) {
  auto servers = config.find("mcpServers");
  return servers != config.end() && servers->is_object() &&
         servers->contains(std::string(kServerName));
}

bool nestsDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

std::string decodeUtf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char c = byte(i);
    size_t length = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    bool valid = length > 0 && i + length <= bytes.size();
    for (size_t k = 1; valid && k < length; ++k) valid = (byte(i + k) & 0xC0) == 0x80;
    if (valid && length > 1) {
      // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
      uint32_t cp = c & (0x7F >> length);
      for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (byte(i + k) & 0x3F);
      static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
      valid = cp >= kMinimum[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (!valid) {
      out += kReplacement;
      ++i;
      continue;
    }
    out.append(bytes.substr(i, length));
    i += length;
  }
  return out;
}

namespace {

std::string_view trim(std::string_view text) {
  auto first = text.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string_view::npos) return {};
  auto last = text.find_last_not_of(" \t\r\n\v\f");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> claudeFromShell(int status, std::string_view output) {
  auto path = trim(output);
  if (status != 0 || path.empty() || path[0] != '/') return std::nullopt;
  return std::string(path);
}

std::string oneLine(std::string_view output, size_t maxChars) {
  std::string text = decodeUtf8(output);
  std::string out;
  std::string_view rest = text;
  while (!rest.empty()) {
    auto end = rest.find('\n');
    auto line = trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) continue;
    if (!out.empty()) out += "; ";
    out += line;
  }
  if (out.size() > maxChars) {
    size_t cut = maxChars;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out += "…";
  }
  return out;
}

}  // namespace norvo::Integration
