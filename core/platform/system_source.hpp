// The operating-system reads behind the machine-wide metrics. Each read has a
// fixed fallback and never throws; the formulas that turn these raw figures
// into SystemMetrics live in core/measure and do not know which OS fed them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"

namespace norvo::platform {

struct ProcessorTicks {
  uint64_t busy = 0;   // summed over every logical processor
  uint64_t total = 0;  // busy + idle
};

// The memory figures the breakdown formula needs, in bytes.
struct VmStatistics {
  uint64_t internalBytes = 0;    // anonymous memory of processes
  uint64_t purgeableBytes = 0;   // anonymous memory the kernel may drop at will
  uint64_t externalBytes = 0;    // file-backed and reclaimable kernel caches
  uint64_t wiredBytes = 0;       // memory that can never be paged out
  uint64_t compressorBytes = 0;  // memory holding compressed pages
};

struct SwapUsage {
  uint64_t usedBytes = 0;
  uint64_t totalBytes = 0;
};

// Physical cores per performance level; absent where the machine has no levels.
struct PerformanceLevels {
  std::optional<int64_t> performance;
  std::optional<int64_t> efficiency;
};

// Memory pressure levels with the kernel-level codes the assessment expects.
enum class PressureLevel : int { normal = 1, warning = 2, critical = 4 };

enum class ThermalLevel { nominal, fair, serious, critical, unknown };

// One mounted file system as the volume listing sees it. Fields are absent
// where the system could not say.
struct MountedVolume {
  std::string path;
  std::optional<std::string> name;
  std::optional<int64_t> totalBytes;
  std::optional<int64_t> availableBytes;
  std::optional<bool> isLocal;
  std::optional<bool> isReadOnly;
};

// What this process may really use where the machine gives it less than the
// whole host: the processors it may keep busy and why.
struct CpuAllowance {
  int64_t processors = 1;
  std::string limitedBy;  // "cpuset", "affinity" or "cgroup" (a time quota)
  // Only under a binding quota: processors' worth of time granted, and the
  // cumulative CPU time the quota's group has spent, in microseconds.
  std::optional<double> quotaProcessors;
  std::optional<uint64_t> quotaUsageMicros;
};

// A memory limit below the host's RAM, with the group's own figures.
struct MemoryAllowance {
  uint64_t limitBytes = 0;
  std::optional<VmStatistics> stats;
  std::optional<PressureLevel> pressure;
};

namespace system_source {

// Ticks of this moment; {0, 0} when they cannot be read.
ProcessorTicks processorTicks(const Roots& roots);

// Seconds the machine has been awake since boot; stands still during suspend.
double uptimeSeconds();

// Cumulative pages swapped out; absent when unknown.
std::optional<uint64_t> swapOuts(const Roots& roots);

// Processors online now; at least 1.
int logicalCores(const Roots& roots);

PerformanceLevels performanceLevels(const Roots& roots);

// 1, 5 and 15-minute load averages; zeros when unreadable.
std::array<double, 3> loadAverages(const Roots& roots);

// Absent when nothing holds this process below `hostProcessors`.
std::optional<CpuAllowance> cpuAllowance(const Roots& roots, int64_t hostProcessors);

// Absent when no control-group limit lies below `hostBytes`.
std::optional<MemoryAllowance> memoryAllowance(const Roots& roots, uint64_t hostBytes);

// Physical memory in bytes; 0 when unreadable.
uint64_t physicalMemory(const Roots& roots);

// Absent when the statistics are not available.
std::optional<VmStatistics> vmStatistics(const Roots& roots);

// Absent when there is no reading at all.
std::optional<PressureLevel> memoryPressure(const Roots& roots);

std::optional<SwapUsage> swapUsage(const Roots& roots);

ThermalLevel thermalLevel(const Roots& roots);

bool lowPowerMode(const Roots& roots);

// Mounted local file systems in mount-table order, pseudo file systems,
// network file systems and hidden mounts already left out. A volume whose
// read has not come back within 1.5 s is left out of this listing. Absent
// when the mount table cannot be read.
std::optional<std::vector<MountedVolume>> mountedVolumes(const Roots& roots);

// The same with the read of each mount point given (absent: not a volume)
// and the time all reads together may take.
using VolumeReader = std::function<std::optional<MountedVolume>(const std::string& path)>;
std::optional<std::vector<MountedVolume>> mountedVolumes(const Roots& roots,
                                                         const VolumeReader& read,
                                                         std::chrono::milliseconds deadline);

// The figures of one path ("/" when the mount table is missing); absent when
// the path cannot be examined.
std::optional<MountedVolume> volumeAt(const std::string& path);

}  // namespace system_source
}  // namespace norvo::platform
