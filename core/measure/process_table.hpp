// Reads every process of the machine so that one stuck process can never
// stall a sample: the cheap facts of all processes first, then the expensive
// ones (executable, command line, resource usage) in parallel under a
// deadline. A process whose detail read does not come back is remembered as
// hung in "hung-v2.json" and skipped by later reads for a while. Also the rules
// that turn readings into samples and app groups (CPU share, memory, bundles).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/measure/hung_mark.hpp"
#include "core/measure/process_sample.hpp"
#include "core/platform/process_signal.hpp"
#include "core/platform/process_source.hpp"

namespace norvo {

// The readings of one tick, by pid.
using ProcessReadings = std::unordered_map<int32_t, ProcessReading>;

class ProcessTable {
 public:
  // The expensive part of one reading.
  struct Details {
    std::string path;
    std::string executable;
    std::string arguments;
    std::optional<uint64_t> cpuNanos;
    std::optional<uint64_t> footprintBytes;
    std::optional<int32_t> responsiblePid;
    std::optional<std::string> appEntry;
  };

  using Clock = std::function<Date()>;

  // A table over `source` that keeps its hung marks in `storeDirectory`.
  // `now` dates the marks and measures their ages; tests move it forward.
  ProcessTable(std::shared_ptr<const platform::ProcessSource> source,
               std::filesystem::path storeDirectory, Clock now = std::chrono::system_clock::now);
  ~ProcessTable();
  ProcessTable(const ProcessTable&) = delete;
  ProcessTable& operator=(const ProcessTable&) = delete;

  // The process-wide table over the real /proc and the store directory.
  static ProcessTable& shared();

  // Every pid above 0 that the system lists.
  std::vector<int32_t> allPids() const;

  // The cheap reading only: no path, arguments or usage; responsiblePid = pid.
  // Absent when the process cannot be inspected.
  std::optional<ProcessReading> basic(int32_t pid) const;

  // A complete reading of one process, without the cache and without a deadline.
  std::optional<ProcessReading> read(int32_t pid) const;

  // All processes; details for as many as complete within `deadline`. Never
  // blocks much longer than the deadline, whatever the processes do.
  ProcessReadings read(std::chrono::duration<double> deadline);

  // Process key -> name of the processes the last read(deadline) considers hung.
  std::map<std::string, std::string> hung() const;

  // When true, a process marked hung is read again once its mark is older than
  // 120 seconds.
  bool retryHung() const;
  void setRetryHung(bool retry);

  const platform::ProcessSource& source() const;

  // Pins the process `reading` describes, so that a signal can reach only it:
  // absent unless the pid still names a process with the reading's start
  // time, checked before pinning and again after, which closes the gap in
  // which the pid could have been reused.
  std::optional<platform::PinnedProcess> pin(const ProcessReading& reading) const;

  // The outermost ".app" bundle holding `path`, or the path itself when it
  // ends in ".app"; absent otherwise.
  static std::optional<std::string> outermostBundle(const std::string& path);

  // The app that owns `reading` among this tick's readings: the device
  // emulator's folder for its processes, else the first of the responsible
  // process's and the process's own path and arguments that lies in an app
  // bundle, else (on Linux) the desktop entry of the app unit the process runs
  // in or of the app whose program it is.
  static std::optional<std::string> owningBundle(const ProcessReading& reading,
                                                 const ProcessReadings& readings);

  // Percent of one core between two readings `elapsedSeconds` apart, one
  // decimal; 0 unless both have CPU time of the same process and it grew.
  static double cpuPercent(const ProcessReading& current, const ProcessReading* previous,
                           double elapsedSeconds);

  // Rounds half away from zero to one decimal.
  static double roundToTenth(double value);

  // The app groups of one tick's user-app and agent samples, heaviest first.
  // `bundleIdentifier` reads a bundle's identifier (the source's reader in
  // production).
  static std::vector<AppGroup> appGroups(
      const std::vector<ProcessSample>& samples, const ProcessReadings& readings,
      const std::function<std::optional<std::string>(const std::string&)>& bundleIdentifier);

  // The "CFBundleIdentifier" counterpart of a Linux desktop entry: its desktop
  // file id. Absent for anything that is not a desktop entry.
  static std::optional<std::string> desktopEntryId(const std::string& bundlePath);

  // Shared with the work items, which may outlive a call and the table itself.
  struct State;

 private:
  std::shared_ptr<State> shared_;
  std::filesystem::path hungFile_;
  Clock now_;
};

}  // namespace norvo
