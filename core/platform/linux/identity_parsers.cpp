#include "core/platform/linux/identity_parsers.hpp"

#include <map>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

namespace {

std::string unquote(std::string_view v) {
  v = text_file::trim(v);
  if (!v.empty() && (v.front() == '"' || v.front() == '\'')) {
    // A value cut short keeps what it has rather than its stray quote.
    bool closed = v.size() >= 2 && v.back() == v.front();
    v = v.substr(1, v.size() - (closed ? 2 : 1));
  }
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) ++i;  // shell-style escapes
    out += v[i];
  }
  return out;
}

}  // namespace

std::optional<std::string> cpuModelName(std::string_view cpuinfo) {
  std::map<std::string, std::string, std::less<>> first;
  text_file::forEachLine(cpuinfo, [&](std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    auto key = std::string(text_file::trim(line.substr(0, colon)));
    auto value = text_file::trim(line.substr(colon + 1));
    if (!value.empty()) first.emplace(key, std::string(value));
  });
  for (const char* key : {"model name", "Model", "Hardware"})
    if (auto it = first.find(key); it != first.end()) return it->second;
  return std::nullopt;
}

std::optional<std::string> osPrettyName(std::string_view osRelease) {
  std::map<std::string, std::string, std::less<>> fields;
  text_file::forEachLine(osRelease, [&](std::string_view line) {
    line = text_file::trim(line);
    if (line.empty() || line.front() == '#') return;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return;
    fields.emplace(std::string(line.substr(0, eq)), unquote(line.substr(eq + 1)));
  });
  if (auto it = fields.find("PRETTY_NAME"); it != fields.end() && !it->second.empty())
    return it->second;
  auto name = fields.find("NAME");
  if (name == fields.end() || name->second.empty()) return std::nullopt;
  auto version = fields.find("VERSION");
  if (version == fields.end() || version->second.empty()) return name->second;
  return name->second + " " + version->second;
}

std::optional<std::string> osVersionText(const std::optional<std::string>& prettyName,
                                         const std::optional<std::string>& kernelRelease) {
  if (prettyName && kernelRelease) return *prettyName + ", Linux " + *kernelRelease;
  if (prettyName) return prettyName;
  if (kernelRelease) return "Linux " + *kernelRelease;
  return std::nullopt;
}

}  // namespace norvo::platform::parse
