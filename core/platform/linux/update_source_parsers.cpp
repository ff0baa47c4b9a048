#include "core/platform/linux/update_source_parsers.hpp"

#include <cctype>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

namespace {

// The value of `key` in the INI group `group`; later groups do not count.
std::optional<std::string> iniValue(std::string_view text, std::string_view group,
                                    std::string_view key) {
  bool inGroup = false;
  std::optional<std::string> found;
  text_file::forEachLine(text, [&](std::string_view raw) {
    auto line = text_file::trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') return;
    if (line.front() == '[') {
      inGroup = line == group;
      return;
    }
    if (!inGroup || found) return;
    auto eq = line.find('=');
    if (eq == std::string_view::npos || text_file::trim(line.substr(0, eq)) != key) return;
    found = std::string(text_file::trim(line.substr(eq + 1)));
  });
  return found;
}

}  // namespace

std::optional<std::string> flatpakOrigin(std::string_view deploy) {
  auto end = deploy.find('\0');
  if (end == std::string_view::npos || end == 0) return std::nullopt;
  auto name = deploy.substr(0, end);
  for (char c : name)
    if (!std::isprint(static_cast<unsigned char>(c))) return std::nullopt;
  return std::string(name);
}

std::optional<std::string> remoteUrl(std::string_view config, std::string_view name) {
  return iniValue(config, "[remote \"" + std::string(name) + "\"]", "url");
}

bool isFlathub(std::string_view url) {
  auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return false;
  auto host = url.substr(scheme + 3);
  host = host.substr(0, host.find_first_of("/:?#"));
  std::string lower;
  for (char c : host)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  std::string_view h = lower;
  return h == "flathub.org" || (h.size() > 12 && h.substr(h.size() - 12) == ".flathub.org");
}

std::optional<std::string> desktopAppcast(std::string_view text) {
  auto value = iniValue(text, "[Desktop Entry]", "X-Appcast");
  if (value && value->empty()) return std::nullopt;
  return value;
}

OSVersion kernelVersion(std::string_view release) {
  int parts[3] = {0, 0, 0};
  size_t i = 0;
  for (int n = 0; n < 3; ++n) {
    if (i >= release.size() || !std::isdigit(static_cast<unsigned char>(release[i]))) break;
    long value = 0;
    while (i < release.size() && std::isdigit(static_cast<unsigned char>(release[i])) &&
           value < 100000)
      value = value * 10 + (release[i++] - '0');
    parts[n] = static_cast<int>(value);
    if (i >= release.size() || release[i] != '.') break;
    ++i;
  }
  return {parts[0], parts[1], parts[2]};
}

}  // namespace norvo::platform::parse
