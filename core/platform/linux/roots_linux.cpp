#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "core/platform/roots.hpp"
#include "core/platform/store_directory.hpp"

namespace norvo::platform {

Roots Roots::system() {
  Roots r;
  if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
    r.home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    r.home = pw->pw_dir;
  }
  r.store = NorvoStore::directory();
  return r;
}

Roots Roots::under(const std::filesystem::path& base) {
  Roots r;
  r.proc = base / "proc";
  r.sys = base / "sys";
  r.etc = base / "etc";
  r.var = base / "var";
  r.run = base / "run";
  r.dev = base / "dev";
  r.home = base / "home";
  r.store = base / "store";
  return r;
}

}  // namespace norvo::platform
