#include "core/platform/store_directory.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace norvo::NorvoStore {

namespace fs = std::filesystem;

namespace {

// HOME when it is absolute, else the password database's home, else /tmp.
fs::path homeFolder(const char* home) {
  if (home && home[0] == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

fs::path directoryFor(const char* xdgDataHome, const char* home) {
  if (xdgDataHome && xdgDataHome[0] == '/') return fs::path(xdgDataHome) / "ZemraNorvo";
  return homeFolder(home) / ".local" / "share" / "ZemraNorvo";
}

fs::path configDirectoryFor(const char* xdgConfigHome, const char* home) {
  if (xdgConfigHome && xdgConfigHome[0] == '/') return fs::path(xdgConfigHome) / "ZemraNorvo";
  return homeFolder(home) / ".config" / "ZemraNorvo";
}

fs::path configDirectory() {
  return configDirectoryFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

const fs::path& directory() {
  // A function-local static is initialised exactly once, even under races.
  static const fs::path dir = directoryFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  return dir;
}

}  // namespace norvo::NorvoStore
