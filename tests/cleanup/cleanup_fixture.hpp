// A home of its own for the cleanup tests, with a folder outside it that no
// run may change, and a context that reads only what the test gives it.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "core/cleanup/cleanup.hpp"
#include "test_support.hpp"

namespace norvo::test {

namespace fs = std::filesystem;

// Moves the modification time of `path` (not of a link's target) `days` back.
inline void age(const fs::path& path, double days) {
  fs::last_write_time(path, fs::file_time_type::clock::now() -
                                std::chrono::duration_cast<fs::file_time_type::duration>(
                                    std::chrono::duration<double>(days * 86400)));
}

struct CleanupHome {
  TempDir dir;
  fs::path home = dir.path() / "home";
  fs::path outside = dir.path() / "outside";  // must never change
  fs::path tmp = dir.path() / "tmp";
  fs::path store = dir.path() / "store";
  ProcessReadings readings;
  int64_t free = 1000;
  Cleanup::Context context;

  CleanupHome() {
    for (const auto& p : {home, outside, tmp, store}) fs::create_directories(p);
    write(outside / "keep/precious.txt", "owner's file");
    write(outside / "keep/deeper/also.txt", "another");
    context.places = Cleanup::Places::under(home, tmp);
    context.store = store;
    context.readProcesses = [this] { return readings; };
    // Each reading finds 4000 bytes more free than the last.
    context.freeSpace = [this] { return std::optional<int64_t>(free += 4000); };
    context.xcrun = dir.path() / "no-xcrun";
    context.apps.places = platform::AppPlaces::under(home, dir.path() / "no-flatpak");
    context.apps.store = store;
    context.apps.readProcesses = [] { return ProcessReadings{}; };
  }

  fs::path write(const fs::path& path, const std::string& content) const {
    fs::create_directories(path.parent_path());
    return dir.write(path.lexically_relative(dir.path()), content);
  }

  // A reading of a process named `name` of this user.
  void running(const std::string& name, uint32_t uid) {
    ProcessReading r;
    r.pid = static_cast<int32_t>(readings.size() + 100);
    r.uid = uid;
    r.name = name;
    r.command = name;
    readings[r.pid] = r;
  }
};

}  // namespace norvo::test
