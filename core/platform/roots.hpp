// The folders the Linux readers look in, as a value. Production code uses
// `Roots::system()`; tests build fake /proc and /sys trees and pass `Roots::under`.
#pragma once

#include <filesystem>

namespace norvo::platform {

struct Roots {
  std::filesystem::path proc{"/proc"};
  std::filesystem::path sys{"/sys"};
  std::filesystem::path etc{"/etc"};
  std::filesystem::path var{"/var"};
  std::filesystem::path run{"/run"};
  std::filesystem::path dev{"/dev"};
  std::filesystem::path home;   // the owner's home folder
  std::filesystem::path store;  // the product's store directory

  // The real machine: fixed system paths, home from $HOME (or the password
  // database), store from NorvoStore::directory().
  static Roots system();

  // Every root below `base` (base/proc, base/sys, …, base/home, base/store).
  static Roots under(const std::filesystem::path& base);
};

}  // namespace norvo::platform
