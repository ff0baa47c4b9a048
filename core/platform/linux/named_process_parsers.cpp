#include "core/platform/linux/named_process_parsers.hpp"

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

std::optional<uint32_t> statusRealUid(std::string_view text) {
  for (std::string_view line : text_file::lines(text)) {
    if (line.substr(0, 4) != "Uid:") continue;
    std::string_view rest = line.substr(4);
    size_t b = rest.find_first_not_of(" \t");
    if (b == std::string_view::npos) return std::nullopt;
    rest = rest.substr(b);
    std::string_view first = rest.substr(0, rest.find_first_of(" \t"));
    auto value = text_file::parseUnsigned(first);
    if (!value || *value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*value);
  }
  return std::nullopt;
}

std::string commName(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return std::string(text);
}

std::string cmdlineName(std::string_view text) {
  std::string_view first = text.substr(0, text.find('\0'));
  while (!first.empty() && first.back() == '/') first.remove_suffix(1);
  size_t slash = first.rfind('/');
  if (slash != std::string_view::npos) first = first.substr(slash + 1);
  return std::string(first);
}

bool isPidEntry(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace norvo::platform::parse
