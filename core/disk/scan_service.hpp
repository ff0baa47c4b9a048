// Answering a scan request filed by an agent: the owner's side measures, the
// agent only ever reads the report. A folder outside the home folder, or one
// inside a protected folder the owner has not opened, is answered with the
// report's lock and never with its contents.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/disk/disk_scan.hpp"
#include "core/platform/stop_signal.hpp"
#include "core/store/scan_request.hpp"

namespace norvo::DiskUsage {

// The longest a served scan may run.
inline constexpr double kServedScanDeadline = 120;

// Whether an agent may have `path` measured: absolute, inside the home
// folder, and not inside a protected folder closed under `access`.
bool agentMayScan(const std::string& path, const Places& places, const Access& access);

// The report for `request`: a scan of its folder or volume, or, for a folder
// an agent may not have measured, a report whose root carries the lock.
Report serve(const NorvoStore::ScanRequest& request, const Access& access, double deadline,
             Progress& progress, const ScanSetup& setup);

// Serves every pending request of the store at `storeDir` in order, writing
// each result with finishScan. Stops early when `progress` is cancelled.
// Returns how many were answered.
int servePending(const std::filesystem::path& storeDir, const ScanSetup& setup, Progress& progress);

// The sampling loop's scan worker: looks for pending requests every
// `pollEvery` and serves them until `stop` is requested, with `setup` made
// afresh for each round. `progress` is what the owner of the thread cancels to
// cut a running scan short.
void serveUntilStopped(const std::filesystem::path& storeDir,
                       const std::function<ScanSetup()>& setup, const platform::StopSignal& stop,
                       Progress& progress, std::chrono::milliseconds pollEvery);

}  // namespace norvo::DiskUsage
