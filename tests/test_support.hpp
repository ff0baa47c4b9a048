// Helpers shared by the tests: temporary folders and fixture trees.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace norvo::test {

// A fresh folder under the test run's temporary root, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `content` to path()/relative, creating folders.
  std::filesystem::path write(const std::filesystem::path& relative,
                              std::string_view content) const;

 private:
  std::filesystem::path path_;
};

// tests/fixtures/<relative>
std::filesystem::path fixture(const std::filesystem::path& relative);

std::string readFile(const std::filesystem::path& path);

}  // namespace norvo::test
