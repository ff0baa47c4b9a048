// The fans fixture copied where it may be written: two applesmc fans, a PWM
// fan and a fan that only reports its speed on an nct6798, and a hwmon link
// that leads out of the tree.
#pragma once

#include <filesystem>
#include <string>

#include "core/platform/roots.hpp"
#include "test_support.hpp"

namespace norvo::test {

struct FanTree {
  TempDir dir;
  std::filesystem::path applesmc = dir.path() / "sys/devices/platform/applesmc.768";
  std::filesystem::path nct = dir.path() / "sys/devices/platform/nct6775.656/hwmon/hwmon3";

  FanTree() {
    std::filesystem::copy(
        fixture("linux/fans"), dir.path(),
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  }
  // The first line of an attribute.
  std::string read(const std::filesystem::path& file) const {
    auto text = readFile(file);
    return text.substr(0, text.find('\n'));
  }
  platform::Roots roots() const { return platform::Roots::under(dir.path()); }
};

}  // namespace norvo::test
