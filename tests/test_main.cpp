// Every test run gets its own home and data folder, so no test can read or
// write the real owner's store, and the same locale.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string tmpl = (fs::temp_directory_path() / "norvo-home-XXXXXX").string();
  if (::mkdtemp(tmpl.data())) {
    ::setenv("HOME", tmpl.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (fs::path(tmpl) / ".local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (fs::path(tmpl) / ".cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (fs::path(tmpl) / ".config").c_str(), 1);
  }
  // The owner's texts follow the locale; tests that want English ask for it.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  ::testing::InitGoogleMock(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  fs::remove_all(tmpl, ec);
  return rc;
}
