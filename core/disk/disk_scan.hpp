// The scanner: measures a volume or one folder in one pass and returns a
// report. It walks millions of files, so it counts without following links
// or entering other devices, keeps only folders of at least 1 MiB, publishes
// progress, and stops at a deadline or on cancel with a partial but
// consistent tree. Folders the owner has not opened to it are reported as
// locked, never entered.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk_report.hpp"
#include "core/platform/roots.hpp"

namespace norvo::DiskUsage {

// Shared between the scanning thread and an observer (a progress display, or
// whoever may cancel). The scanner takes the lock only every 5,000 entries.
class Progress {
 public:
  int64_t bytes() const;
  int64_t files() const;
  std::string path() const;
  bool cancelled() const;
  void cancel();

  // The scanner's report of where it stands; returns whether it was cancelled.
  bool publish(int64_t bytes, int64_t files, const std::string& path);

 private:
  mutable std::mutex lock_;
  int64_t bytes_ = 0;
  int64_t files_ = 0;
  std::string path_;
  bool cancelled_ = false;
};

// Where the scan finds the machine: the account's places, the mounted
// volumes (startup first) and the disk history folder (absent: the scan
// neither reads nor records history).
struct ScanSetup {
  Places places;
  std::vector<Volume> volumes;
  std::optional<std::filesystem::path> historyDir;
};

// The folders a scan does not enter without the owner's leave, in this order:
// the three user folders, the sandboxed apps' data, the cloud folders.
std::vector<std::string> protectedFolders(const Places& places);

// Whether the folder at `path` stays closed to a scan under `access`.
bool isLocked(const std::string& path, const Places& places, const Access& access);

// `path` absent: the volume (`volume`, else the startup one); present: that
// folder. `deadline` is seconds from the call. Synchronous; never throws for
// anything the disk does.
Report scan(const std::optional<std::string>& path, const std::optional<Volume>& volume,
            const Access& access, double deadline, Progress& progress, const ScanSetup& setup);

// The volume holding `path`: the non-startup volume with the longest mount
// point that is `path` or a folder above it, else the first startup volume.
std::optional<Volume> volumeOf(const std::string& path, const std::vector<Volume>& volumes);

// The growth list over `root`'s children: against `old` (path → bytes of an
// earlier scan) when given, else the recently changed bytes; largest first,
// at most `limit`.
std::vector<Change> changes(const Node& root,
                            const std::optional<std::map<std::string, int64_t>>& old, int64_t min,
                            int limit, const Places& places);

// The mounted volumes as the scanner sees them, startup volume first, then by
// name.
std::vector<Volume> volumes(const platform::Roots& roots);

// `places` with the Desktop, Documents and Downloads folders that the text of
// a user-dirs.dirs file names ("$HOME/…" or absolute; the home folder itself
// or a relative value leaves the default).
Places withUserDirs(Places places, const std::string& userDirs);

// The account's places on this machine: XDG folders from the environment and
// the user folders from "~/.config/user-dirs.dirs".
Places placesFor(const platform::Roots& roots);

}  // namespace norvo::DiskUsage
