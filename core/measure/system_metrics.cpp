#include "core/measure/system_metrics.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "core/records/record_fields.hpp"

namespace norvo {

namespace ss = platform::system_source;

SystemReading SystemReading::now(const platform::Roots& roots) {
  SystemReading r;
  auto ticks = ss::processorTicks(roots);
  r.busyTicks = ticks.busy;
  r.totalTicks = ticks.total;
  r.time = ss::uptimeSeconds();
  r.swapOuts = ss::swapOuts(roots).value_or(0);
  if (auto allowance = ss::cpuAllowance(roots, ss::logicalCores(roots))) {
    r.quotaProcessors = allowance->quotaProcessors;
    r.quotaUsageMicros = allowance->quotaUsageMicros;
  }
  return r;
}

std::optional<SystemMetrics::Volume> SystemMetrics::bootVolume() const {
  for (const auto& v : volumes)
    if (v.path == "/") return v;
  if (volumes.empty()) return std::nullopt;
  return volumes.front();
}

double SystemMetrics::usageBetween(const SystemReading& previous, const SystemReading& current) {
  if (current.totalTicks == previous.totalTicks) return 0;
  // Unsigned differences wrap like the kernel's counters do.
  double busy = static_cast<double>(current.busyTicks - previous.busyTicks);
  double total = static_cast<double>(current.totalTicks - previous.totalTicks);
  return std::min(busy / total, 1.0);
}

std::optional<double> SystemMetrics::quotaUsageBetween(const SystemReading& previous,
                                                       const SystemReading& current) {
  if (!previous.quotaProcessors || !current.quotaProcessors || !previous.quotaUsageMicros ||
      !current.quotaUsageMicros || *previous.quotaProcessors != *current.quotaProcessors ||
      !(*current.quotaProcessors > 0))
    return std::nullopt;
  // A group recreated between the readings restarts its counter.
  if (*current.quotaUsageMicros < *previous.quotaUsageMicros) return std::nullopt;
  double granted = *current.quotaProcessors * (current.time - previous.time) * 1e6;
  if (!(granted > 0)) return std::nullopt;
  double spent = static_cast<double>(*current.quotaUsageMicros - *previous.quotaUsageMicros);
  return std::min(spent / granted, 1.0);
}

double SystemMetrics::sampleSecondsBetween(const SystemReading& previous,
                                           const SystemReading& current) {
  double d = current.time - previous.time;
  return d > 0.001 ? d : 0.001;  // also catches NaN
}

SystemMetrics::Memory SystemMetrics::memoryBreakdown(
    uint64_t totalBytes, const std::optional<platform::VmStatistics>& stats) {
  Memory m;
  m.totalBytes = totalBytes;
  if (!stats) {
    m.availableBytes = totalBytes;
    return m;
  }
  m.appBytes = stats->internalBytes > stats->purgeableBytes
                   ? stats->internalBytes - stats->purgeableBytes
                   : 0;
  m.wiredBytes = stats->wiredBytes;
  m.compressedBytes = stats->compressorBytes;
  m.cachedBytes = stats->externalBytes + stats->purgeableBytes;
  // Saturating sum: absurd inputs must clamp to total, not wrap below it.
  uint64_t used = m.appBytes;
  for (uint64_t part : {m.wiredBytes, m.compressedBytes})
    used = (UINT64_MAX - used < part) ? UINT64_MAX : used + part;
  m.usedBytes = std::min(used, totalBytes);
  m.availableBytes = totalBytes - m.usedBytes;
  return m;
}

std::string SystemMetrics::pressureText(std::optional<int> level) {
  if (!level) return "normal";
  switch (*level) {
    case 2: return "warning";
    case 4: return "critical";
    default: return "normal";
  }
}

std::string SystemMetrics::thermalText(platform::ThermalLevel level) {
  switch (level) {
    case platform::ThermalLevel::nominal: return "nominal";
    case platform::ThermalLevel::fair: return "fair";
    case platform::ThermalLevel::serious: return "serious";
    case platform::ThermalLevel::critical: return "critical";
    default: return "unknown";
  }
}

std::vector<SystemMetrics::Volume> SystemMetrics::keepVolumes(
    const std::vector<platform::MountedVolume>& mounted) {
  std::vector<Volume> out;
  for (const auto& m : mounted) {
    if (m.isLocal.has_value() && !*m.isLocal) continue;
    if (m.isReadOnly.value_or(false)) continue;
    if (!m.totalBytes || *m.totalBytes <= 0) continue;
    Volume v;
    v.path = m.path;
    if (m.name && !m.name->empty()) {
      v.name = *m.name;
    } else {
      // The last path component; "/" names itself.
      std::filesystem::path p(m.path);
      while (p.has_relative_path() && p.filename().empty()) p = p.parent_path();
      v.name = p.has_relative_path() ? p.filename().string() : std::string("/");
    }
    v.totalBytes = *m.totalBytes;
    v.freeBytes = m.availableBytes.value_or(0);
    out.push_back(std::move(v));
  }
  return out;
}

SystemMetrics SystemMetrics::between(const SystemReading& previous, const SystemReading& current,
                                     const platform::Roots& roots) {
  SystemMetrics s;
  s.cpu.logicalCores = ss::logicalCores(roots);
  auto allowance = ss::cpuAllowance(roots, s.cpu.logicalCores);
  auto load = ss::loadAverages(roots);
  s.cpu.loadAverage1m = load[0];
  s.cpu.loadAverage5m = load[1];
  auto levels = ss::performanceLevels(roots);
  s.cpu.performanceCores = levels.performance.value_or(s.cpu.logicalCores);
  s.cpu.efficiencyCores = levels.efficiency.value_or(0);
  if (allowance) {
    // Which kind of core the allowance falls on is unknown; the host's kinds
    // can at least not outnumber it.
    s.cpu.logicalCores = allowance->processors;
    s.cpu.limitedBy = allowance->limitedBy;
    s.cpu.performanceCores = std::min(s.cpu.performanceCores, s.cpu.logicalCores);
    s.cpu.efficiencyCores =
        std::min(s.cpu.efficiencyCores, s.cpu.logicalCores - s.cpu.performanceCores);
  }
  s.sampleSeconds = sampleSecondsBetween(previous, current);

  uint64_t total = ss::physicalMemory(roots);
  std::optional<platform::PressureLevel> pressure;
  if (auto limit = ss::memoryAllowance(roots, total)) {
    s.memory = memoryBreakdown(limit->limitBytes, limit->stats);
    s.memory.limitedBy = "cgroup";
    pressure = limit->pressure;
  } else {
    s.memory = memoryBreakdown(total, ss::vmStatistics(roots));
    pressure = ss::memoryPressure(roots);
  }
  s.memory.swapOutsPerSecond =
      static_cast<double>(current.swapOuts - previous.swapOuts) / s.sampleSeconds;
  s.memory.pressure =
      pressureText(pressure ? std::optional<int>(static_cast<int>(*pressure)) : std::nullopt);
  if (auto swap = ss::swapUsage(roots)) {
    s.memory.swapUsedBytes = swap->usedBytes;
    s.memory.swapTotalBytes = swap->totalBytes;
  }
  s.thermalState = thermalText(ss::thermalLevel(roots));
  s.cpu.usage = quotaUsageBetween(previous, current).value_or(usageBetween(previous, current));
  s.timestamp = std::chrono::system_clock::now();

  if (auto mounted = ss::mountedVolumes(roots)) {
    s.volumes = keepVolumes(*mounted);
  } else if (auto root = ss::volumeAt("/")) {
    root->isLocal = true;
    s.volumes = keepVolumes({*root});
  }
  s.lowPowerMode = ss::lowPowerMode(roots);
  s.cpu.freeCores = (1.0 - s.cpu.usage) * static_cast<double>(s.cpu.logicalCores);
  return s;
}

// ---- JSON ----

constexpr auto cPUFields = record_fields::list(
    record_fields::field("usage", &SystemMetrics::CPU::usage),
    record_fields::field("logicalCores", &SystemMetrics::CPU::logicalCores),
    record_fields::field("performanceCores", &SystemMetrics::CPU::performanceCores),
    record_fields::field("efficiencyCores", &SystemMetrics::CPU::efficiencyCores),
    record_fields::field("loadAverage1m", &SystemMetrics::CPU::loadAverage1m),
    record_fields::field("loadAverage5m", &SystemMetrics::CPU::loadAverage5m),
    record_fields::field("freeCores", &SystemMetrics::CPU::freeCores),
    record_fields::field("limitedBy", &SystemMetrics::CPU::limitedBy));
void to_json(nlohmann::json& j, const SystemMetrics::CPU& v) { cPUFields.write(j, v); }
void from_json(const nlohmann::json& j, SystemMetrics::CPU& v) { cPUFields.read(j, v); }

constexpr auto memoryFields = record_fields::list(
    record_fields::field("totalBytes", &SystemMetrics::Memory::totalBytes),
    record_fields::field("usedBytes", &SystemMetrics::Memory::usedBytes),
    record_fields::field("appBytes", &SystemMetrics::Memory::appBytes),
    record_fields::field("wiredBytes", &SystemMetrics::Memory::wiredBytes),
    record_fields::field("compressedBytes", &SystemMetrics::Memory::compressedBytes),
    record_fields::field("cachedBytes", &SystemMetrics::Memory::cachedBytes),
    record_fields::field("availableBytes", &SystemMetrics::Memory::availableBytes),
    record_fields::field("pressure", &SystemMetrics::Memory::pressure),
    record_fields::field("swapUsedBytes", &SystemMetrics::Memory::swapUsedBytes),
    record_fields::field("swapTotalBytes", &SystemMetrics::Memory::swapTotalBytes),
    record_fields::field("swapOutsPerSecond", &SystemMetrics::Memory::swapOutsPerSecond),
    record_fields::field("limitedBy", &SystemMetrics::Memory::limitedBy));
void to_json(nlohmann::json& j, const SystemMetrics::Memory& v) { memoryFields.write(j, v); }
void from_json(const nlohmann::json& j, SystemMetrics::Memory& v) { memoryFields.read(j, v); }

constexpr auto volumeFields =
    record_fields::list(record_fields::field("path", &SystemMetrics::Volume::path),
                        record_fields::field("name", &SystemMetrics::Volume::name),
                        record_fields::field("totalBytes", &SystemMetrics::Volume::totalBytes),
                        record_fields::field("freeBytes", &SystemMetrics::Volume::freeBytes));
void to_json(nlohmann::json& j, const SystemMetrics::Volume& v) { volumeFields.write(j, v); }
void from_json(const nlohmann::json& j, SystemMetrics::Volume& v) { volumeFields.read(j, v); }

constexpr auto systemMetricsFields =
    record_fields::list(record_fields::field("timestamp", &SystemMetrics::timestamp),
                        record_fields::field("sampleSeconds", &SystemMetrics::sampleSeconds),
                        record_fields::field("cpu", &SystemMetrics::cpu),
                        record_fields::field("memory", &SystemMetrics::memory),
                        record_fields::field("volumes", &SystemMetrics::volumes),
                        record_fields::field("thermalState", &SystemMetrics::thermalState),
                        record_fields::field("lowPowerMode", &SystemMetrics::lowPowerMode));
void to_json(nlohmann::json& j, const SystemMetrics& v) { systemMetricsFields.write(j, v); }
void from_json(const nlohmann::json& j, SystemMetrics& v) { systemMetricsFields.read(j, v); }

}  // namespace norvo
