// The machine-wide half of every sample: processor usage over an interval,
// cores, load, memory breakdown and pressure, swap, writable local volumes,
// thermal state and low-power mode. Computed from two counter readings; every
// source that cannot be read falls back to a fixed value, nothing throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"
#include "core/platform/system_source.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

// The counters of one moment. Not serialised.
struct SystemReading {
  double time = 0;          // seconds of system uptime
  uint64_t busyTicks = 0;   // summed over all logical processors
  uint64_t totalTicks = 0;  // busyTicks plus idle ticks
  uint64_t swapOuts = 0;    // cumulative pages swapped out
  // Under a binding CPU quota: the processors' worth of time it grants and
  // the cumulative time its group has spent, in microseconds.
  std::optional<double> quotaProcessors = std::nullopt;
  std::optional<uint64_t> quotaUsageMicros = std::nullopt;

  static SystemReading now(const platform::Roots& roots = platform::Roots::system());
};

struct SystemMetrics {
  struct CPU {
    double usage = 0;  // 0…1 busy share over the interval
    int64_t logicalCores = 0;
    int64_t performanceCores = 0;
    int64_t efficiencyCores = 0;
    double loadAverage1m = 0;
    double loadAverage5m = 0;
    double freeCores = 0;  // (1 − usage) × logicalCores
    // Why logicalCores is below the host's: "cpuset", "affinity" or "cgroup".
    std::optional<std::string> limitedBy = std::nullopt;

    friend bool operator==(const CPU&, const CPU&) = default;
  };

  struct Memory {
    uint64_t totalBytes = 0;
    uint64_t usedBytes = 0;  // app + wired + compressed, at most total
    uint64_t appBytes = 0;
    uint64_t wiredBytes = 0;
    uint64_t compressedBytes = 0;
    uint64_t cachedBytes = 0;
    uint64_t availableBytes = 0;      // total − used
    std::string pressure = "normal";  // "normal", "warning", "critical"
    uint64_t swapUsedBytes = 0;
    uint64_t swapTotalBytes = 0;
    double swapOutsPerSecond = 0;
    std::optional<std::string> limitedBy = std::nullopt;  // "cgroup" when a limit is below the RAM

    friend bool operator==(const Memory&, const Memory&) = default;
  };

  struct Volume {
    std::string path;
    std::string name;
    int64_t totalBytes = 0;
    int64_t freeBytes = 0;

    friend bool operator==(const Volume&, const Volume&) = default;
  };

  Date timestamp{};
  double sampleSeconds = 0.001;
  CPU cpu;
  Memory memory;
  std::vector<Volume> volumes;
  std::string thermalState = "unknown";  // "nominal", "fair", "serious", "critical", "unknown"
  bool lowPowerMode = false;

  // The volume mounted at "/", else the first one; absent when there are none.
  std::optional<Volume> bootVolume() const;

  // A full sample for the interval previous → current; everything that is not
  // a difference of the two readings is read at the moment of the call.
  static SystemMetrics between(const SystemReading& previous, const SystemReading& current,
                               const platform::Roots& roots = platform::Roots::system());

  // ---- The formulas, OS-free, for the reader above and for tests ----

  // 0 when the totals are equal; else busy/total differences (modulo 2^64), at most 1.
  static double usageBetween(const SystemReading& previous, const SystemReading& current);

  // Inside a quota the group's time spent over the time the quota granted, at
  // most 1; absent unless both readings hold the same quota.
  static std::optional<double> quotaUsageBetween(const SystemReading& previous,
                                                 const SystemReading& current);

  // max(current − previous, 0.001).
  static double sampleSecondsBetween(const SystemReading& previous, const SystemReading& current);

  // The breakdown of `totalBytes`; with no statistics every figure but total
  // and available is 0.
  static Memory memoryBreakdown(uint64_t totalBytes,
                                const std::optional<platform::VmStatistics>& stats);

  // 1 → "normal", 2 → "warning", 4 → "critical", anything else "normal".
  static std::string pressureText(std::optional<int> level);

  static std::string thermalText(platform::ThermalLevel level);

  // Keeps local, writable, non-empty volumes in the given order and names them.
  static std::vector<Volume> keepVolumes(const std::vector<platform::MountedVolume>& mounted);
};

void to_json(nlohmann::json& j, const SystemMetrics::CPU& v);
void from_json(const nlohmann::json& j, SystemMetrics::CPU& v);
void to_json(nlohmann::json& j, const SystemMetrics::Memory& v);
void from_json(const nlohmann::json& j, SystemMetrics::Memory& v);
void to_json(nlohmann::json& j, const SystemMetrics::Volume& v);
void from_json(const nlohmann::json& j, SystemMetrics::Volume& v);
void to_json(nlohmann::json& j, const SystemMetrics& v);
void from_json(const nlohmann::json& j, SystemMetrics& v);

}  // namespace norvo
