// What the disk looked like before: free space per volume (one point an hour,
// 30 days) and the size maps of complete volume scans (one a day per grant,
// 31 days, 40 at most), so that a report can say what grew and the digest how
// fast the disk fills. No state in memory: every call reads and writes its
// file afresh, so any of the product's processes may call it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/disk/disk_report.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::DiskHistory {

using Path = std::filesystem::path;

struct FreePoint {
  Date date{};
  std::string path;
  int64_t free = 0;

  friend bool operator==(const FreePoint&, const FreePoint&) = default;
};
void to_json(nlohmann::json& j, const FreePoint& v);
void from_json(const nlohmann::json& j, FreePoint& v);

struct Snapshot {
  Date date{};
  std::string accessKey;
  std::map<std::string, int64_t> sizes;

  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};
void to_json(nlohmann::json& j, const Snapshot& v);
void from_json(const nlohmann::json& j, Snapshot& v);

// "disk-history" inside the store directory.
Path folderIn(const Path& storeDir);

// The snapshot file of a volume: "startup.json" for "/", else the mount point
// with every "/" turned into "_".
std::string snapshotFileName(const std::string& volumePath);

// Adds a point for each (path, free) unless that volume has one younger than
// an hour; drops points 30 days old. False with `error` set when the file
// could not be written (the history then simply does not advance).
bool recordFree(const Path& dir, const std::vector<std::pair<std::string, int64_t>>& volumes,
                Date now, std::string* error = nullptr);

struct Change {
  int64_t bytes = 0;  // positive: free space grew; negative: the disk filled
  Date since{};
};

// The change of free space since the point nearest to `days` ago, among the
// points older than an hour; absent when there is none.
std::optional<Change> freeChange(const Path& dir, const std::string& path, double days,
                                 int64_t current, Date now);

// The snapshot of the same grant nearest to a week ago among those at least
// 20 hours old; absent when there is none.
std::optional<Snapshot> baseline(const Path& dir, const std::string& volumePath,
                                 const std::string& accessKey, Date now);

// Stores the size map of a complete report, replacing a snapshot of the same
// day and grant. False with `error` set when the file could not be written.
bool recordSnapshot(const Path& dir, const DiskUsage::Report& report, Date now,
                    std::string* error = nullptr);

// A history file read whole; missing, unreadable or undecodable files are an
// empty history.
std::vector<FreePoint> readFree(const Path& dir);
std::vector<Snapshot> readSnapshots(const Path& dir, const std::string& volumePath);

}  // namespace norvo::DiskHistory
