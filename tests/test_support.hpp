// Helpers shared by the tests: temporary folders and fixture trees.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace norvo::test {

// Polls `check` every 20 ms until it holds or `timeout` passes; whether it held.
template <typename Check>
bool waitFor(Check check, std::chrono::milliseconds timeout) {
  for (auto until = std::chrono::steady_clock::now() + timeout;;) {
    if (check()) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

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

// Sets an environment variable (unsets it, given nothing) while it lives, for
// this process and the children it starts; the old value comes back after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::filesystem::path>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// tests/fixtures/<relative>
std::filesystem::path fixture(const std::filesystem::path& relative);

// The zemnorvo binary under test. Its path and the fixtures' are compiled
// into test_support.cpp alone, so the other test files compile the same in
// every checkout and a second checkout's build reuses the compiler cache.
const char* cliPath();

std::string readFile(const std::filesystem::path& path);

// Every entry below `root`, links not followed, by its path relative to
// `root`: a file's content, "-> target" for a link, "/" for a folder and "?"
// for anything else (never opened). Equal before and after means untouched.
std::map<std::string, std::string> treeOf(const std::filesystem::path& root);

}  // namespace norvo::test
