#include "core/disk/scan_service.hpp"

#include <filesystem>

#include "core/disk/disk_access.hpp"
#include "core/records/json_codec.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::DiskUsage {

namespace {

// Links resolved, so that a link inside the home folder cannot lead a scan
// out of it.
std::string resolved(const std::string& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
}

}  // namespace

bool agentMayScan(const std::string& path, const Places& places, const Access& access) {
  if (path.empty() || path.front() != '/') return false;
  std::string real = resolved(path);
  if (!isUnder(real, resolved(places.home))) return false;
  for (const auto& folder : protectedFolders(places))
    if (isUnder(real, folder) && isLocked(folder, places, access)) return false;
  return true;
}

Report serve(const NorvoStore::ScanRequest& request, const Access& access, double deadline,
             Progress& progress, const ScanSetup& setup) {
  if (request.path) {
    if (!agentMayScan(*request.path, setup.places, access)) {
      Report r;
      r.volume = volumeOf(*request.path, setup.volumes).value_or(Volume{});
      r.root.name = lastComponent(*request.path);
      r.root.path = *request.path;
      r.root.lock = Lock::privacy;
      r.skipped = {r.root};
      r.fullDiskAccess = access.fullDiskAccess;
      r.date = std::chrono::system_clock::now();
      r.complete = true;
      r.accessKey = access.key();
      return r;
    }
    return scan(resolved(*request.path), std::nullopt, access, deadline, progress, setup);
  }
  std::optional<Volume> volume;
  if (request.volumePath)
    for (const auto& v : setup.volumes)
      if (v.path == *request.volumePath) volume = v;
  return scan(std::nullopt, volume, access, deadline, progress, setup);
}

int servePending(const std::filesystem::path& storeDir, const ScanSetup& setup,
                 Progress& progress) {
  int answered = 0;
  for (const auto& request : NorvoStore::pendingScans(storeDir)) {
    if (progress.cancelled()) break;
    Report report = serve(request, currentAccess(storeDir), kServedScanDeadline, progress, setup);
    NorvoStore::finishScan(request.id, json_codec::encodeRecord(report), storeDir);
    ++answered;
  }
  return answered;
}

void serveUntilStopped(const std::filesystem::path& storeDir,
                       const std::function<ScanSetup()>& setup, const platform::StopSignal& stop,
                       Progress& progress, std::chrono::milliseconds pollEvery) {
  while (!stop.waitUntil(std::chrono::steady_clock::now() + pollEvery)) {
    if (NorvoStore::pendingScans(storeDir).empty()) continue;
    servePending(storeDir, setup(), progress);
  }
}

}  // namespace norvo::DiskUsage
