#include "core/disk/disk_history.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "core/platform/record_file.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::DiskHistory {

namespace {

namespace rf = record_fields;

constexpr auto freeFields =
    rf::list(rf::field("date", &FreePoint::date), rf::field("path", &FreePoint::path),
             rf::field("free", &FreePoint::free));
constexpr auto snapshotFields =
    rf::list(rf::field("date", &Snapshot::date), rf::field("accessKey", &Snapshot::accessKey),
             rf::field("sizes", &Snapshot::sizes));

constexpr double kHour = 3600;
constexpr double kFreeKept = 2592000;
constexpr double kSnapshotKept = 2678400;
constexpr size_t kSnapshotsPerVolume = 40;
constexpr double kBaselineTarget = 604800;
constexpr double kBaselineMinAge = 72000;
constexpr int64_t kSnapshotMinBytes = 52428800;
constexpr int kSnapshotDepth = 10;

double secondsBetween(Date later, Date earlier) {
  return std::chrono::duration<double>(later - earlier).count();
}

template <typename T>
std::vector<T> readArray(const Path& file) {
  auto bytes = record_file::readWhole(file, 64u * 1024 * 1024, record_file::Links::refuse);
  if (!bytes) return {};
  auto list = json_codec::decodeAs<std::vector<T>>(*bytes);
  return list.value_or(std::vector<T>{});
}

template <typename T>
bool writeArray(const Path& file, const std::vector<T>& list, std::string* error) {
  errno = 0;
  if (record_file::write(list, file)) return true;
  if (error)
    *error =
        "cannot write " + file.string() + ": " + (errno ? std::strerror(errno) : "unknown error");
  return false;
}

// The local calendar day of a date, for "one snapshot a day".
std::tuple<int, int, int> localDay(Date d) {
  std::time_t t = std::chrono::system_clock::to_time_t(d);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year, tm.tm_mon, tm.tm_mday};
}

}  // namespace

void to_json(nlohmann::json& j, const FreePoint& v) { freeFields.write(j, v); }
void from_json(const nlohmann::json& j, FreePoint& v) { freeFields.read(j, v); }
void to_json(nlohmann::json& j, const Snapshot& v) { snapshotFields.write(j, v); }
void from_json(const nlohmann::json& j, Snapshot& v) { snapshotFields.read(j, v); }

Path folderIn(const Path& storeDir) { return storeDir / "disk-history"; }

std::string snapshotFileName(const std::string& volumePath) {
  if (volumePath == "/") return "startup.json";
  std::string key = volumePath;
  for (auto& c : key)
    if (c == '/') c = '_';
  return key + ".json";
}

std::vector<FreePoint> readFree(const Path& dir) { return readArray<FreePoint>(dir / "free.json"); }

std::vector<Snapshot> readSnapshots(const Path& dir, const std::string& volumePath) {
  return readArray<Snapshot>(dir / snapshotFileName(volumePath));
}

bool recordFree(const Path& dir, const std::vector<std::pair<std::string, int64_t>>& volumes,
                Date now, std::string* error) {
  auto points = readFree(dir);
  for (const auto& [path, free] : volumes) {
    bool recent = false;
    for (auto it = points.rbegin(); it != points.rend(); ++it)
      if (it->path == path) {
        recent = secondsBetween(now, it->date) < kHour;
        break;
      }
    if (!recent) points.push_back({now, path, free});
  }
  std::erase_if(points,
                [&](const FreePoint& p) { return secondsBetween(now, p.date) >= kFreeKept; });
  return writeArray(dir / "free.json", points, error);
}

std::optional<Change> freeChange(const Path& dir, const std::string& path, double days,
                                 int64_t current, Date now) {
  Date target =
      now - std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(days * 86400));
  const FreePoint* best = nullptr;
  double bestDistance = 0;
  auto points = readFree(dir);
  for (const auto& p : points) {
    if (p.path != path || secondsBetween(now, p.date) <= kHour) continue;
    double distance = std::fabs(secondsBetween(p.date, target));
    if (!best || distance < bestDistance) {
      best = &p;
      bestDistance = distance;
    }
  }
  if (!best) return std::nullopt;
  return Change{current - best->free, best->date};
}

std::optional<Snapshot> baseline(const Path& dir, const std::string& volumePath,
                                 const std::string& accessKey, Date now) {
  Date target = now - std::chrono::seconds(static_cast<int64_t>(kBaselineTarget));
  std::optional<Snapshot> best;
  double bestDistance = 0;
  for (auto& s : readSnapshots(dir, volumePath)) {
    if (s.accessKey != accessKey || secondsBetween(now, s.date) < kBaselineMinAge) continue;
    double distance = std::fabs(secondsBetween(s.date, target));
    if (!best || distance < bestDistance) {
      bestDistance = distance;
      best = std::move(s);
    }
  }
  return best;
}

bool recordSnapshot(const Path& dir, const DiskUsage::Report& report, Date now,
                    std::string* error) {
  auto list = readSnapshots(dir, report.volume.path);
  auto today = localDay(now);
  std::erase_if(list, [&](const Snapshot& s) {
    return s.accessKey == report.accessKey && localDay(s.date) == today;
  });
  list.push_back(
      {now, report.accessKey, DiskUsage::sizeMap(report.root, kSnapshotMinBytes, kSnapshotDepth)});
  std::erase_if(list,
                [&](const Snapshot& s) { return secondsBetween(now, s.date) >= kSnapshotKept; });
  if (list.size() > kSnapshotsPerVolume)
    list.erase(list.begin(), list.end() - static_cast<std::ptrdiff_t>(kSnapshotsPerVolume));
  return writeArray(dir / snapshotFileName(report.volume.path), list, error);
}

}  // namespace norvo::DiskHistory
