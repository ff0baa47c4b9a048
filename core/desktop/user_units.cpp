#include "core/desktop/user_units.hpp"

#include <algorithm>

namespace norvo::user_units {

std::optional<std::vector<UnitFile>> instantiate(const std::vector<UnitFile>& templates,
                                                 std::string_view binary, std::string& error) {
  // systemd.service(5): ExecStart splits on white space, honours quotes and
  // backslash escapes, expands '%' specifiers and "$NAME", and ';' ends a
  // command.
  auto unsafe = [](unsigned char c) {
    return c <= ' ' || c == 0x7f || c == '"' || c == '\'' || c == '%' || c == '\\' || c == ';' ||
           c == '$';
  };
  if (binary.empty() || binary.front() != '/' ||
      std::any_of(binary.begin(), binary.end(), unsafe)) {
    error = "the path " + std::string(binary) +
            " has characters a unit file cannot hold as is (or is not absolute); move the "
            "program to a plain path";
    return std::nullopt;
  }
  constexpr std::string_view marker = "@ZEMNORVO@";
  auto units = templates;
  for (auto& unit : units)
    for (auto at = unit.text.find(marker); at != std::string::npos;
         at = unit.text.find(marker, at + binary.size()))
      unit.text.replace(at, marker.size(), binary);
  return units;
}

}  // namespace norvo::user_units
