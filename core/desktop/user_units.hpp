// The systemd user units that keep the product running while the owner is
// logged in: their text, with the program's own path put in. Which units and
// where systemd reads them is the command's business; this is only the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::user_units {

struct UnitFile {
  std::string name;  // "zemnorvo-watch.service"
  std::string text;
};

// `templates` with every "@ZEMNORVO@" replaced by `binary`. Absent, with
// `error` naming the path, when `binary` is not absolute or holds a character
// systemd would read as something else in a command line (white space,
// control characters, quotes, '%', '\\', ';', '$'): such a path is refused
// rather than quoted, so the unit runs exactly the file we name.
std::optional<std::vector<UnitFile>> instantiate(const std::vector<UnitFile>& templates,
                                                 std::string_view binary, std::string& error);

}  // namespace norvo::user_units
