#include "core/platform/store_directory.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace norvo::NorvoStore {

namespace fs = std::filesystem;

fs::path directoryFor(const char* xdgDataHome, const char* home) {
  if (xdgDataHome && xdgDataHome[0] == '/') return fs::path(xdgDataHome) / "ZemraNorvo";
  fs::path base;
  if (home && home[0] == '/') {
    base = home;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    base = pw->pw_dir;
  } else {
    base = "/tmp";
  }
  return base / ".local" / "share" / "ZemraNorvo";
}

const fs::path& directory() {
  // A function-local static is initialised exactly once, even under races.
  static const fs::path dir = directoryFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  return dir;
}

}  // namespace norvo::NorvoStore
