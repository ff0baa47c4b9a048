#include "core/measure/system_metrics.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace norvo {

namespace ss = platform::system_source;

SystemReading SystemReading::now(const platform::Roots& roots) {
  SystemReading r;
  auto ticks = ss::processorTicks(roots);
  r.busyTicks = ticks.busy;
  r.totalTicks = ticks.total;
  r.time = ss::uptimeSeconds();
  r.swapOuts = ss::swapOuts(roots).value_or(0);
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
  auto load = ss::loadAverages(roots);
  s.cpu.loadAverage1m = load[0];
  s.cpu.loadAverage5m = load[1];
  auto levels = ss::performanceLevels(roots);
  s.cpu.performanceCores = levels.performance.value_or(s.cpu.logicalCores);
  s.cpu.efficiencyCores = levels.efficiency.value_or(0);
  s.sampleSeconds = sampleSecondsBetween(previous, current);

  uint64_t total = ss::physicalMemory(roots);
  s.memory = memoryBreakdown(total, ss::vmStatistics(roots));
  s.memory.swapOutsPerSecond =
      static_cast<double>(current.swapOuts - previous.swapOuts) / s.sampleSeconds;
  auto pressure = ss::memoryPressure(roots);
  s.memory.pressure =
      pressureText(pressure ? std::optional<int>(static_cast<int>(*pressure)) : std::nullopt);
  if (auto swap = ss::swapUsage(roots)) {
    s.memory.swapUsedBytes = swap->usedBytes;
    s.memory.swapTotalBytes = swap->totalBytes;
  }
  s.thermalState = thermalText(ss::thermalLevel(roots));
  s.cpu.usage = usageBetween(previous, current);
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

void to_json(nlohmann::json& j, const SystemMetrics::CPU& v) {
  j = {{"usage", v.usage},
       {"logicalCores", v.logicalCores},
       {"performanceCores", v.performanceCores},
       {"efficiencyCores", v.efficiencyCores},
       {"loadAverage1m", v.loadAverage1m},
       {"loadAverage5m", v.loadAverage5m},
       {"freeCores", v.freeCores}};
}
void from_json(const nlohmann::json& j, SystemMetrics::CPU& v) {
  j.at("usage").get_to(v.usage);
  j.at("logicalCores").get_to(v.logicalCores);
  j.at("performanceCores").get_to(v.performanceCores);
  j.at("efficiencyCores").get_to(v.efficiencyCores);
  j.at("loadAverage1m").get_to(v.loadAverage1m);
  j.at("loadAverage5m").get_to(v.loadAverage5m);
  j.at("freeCores").get_to(v.freeCores);
}

void to_json(nlohmann::json& j, const SystemMetrics::Memory& v) {
  j = {{"totalBytes", v.totalBytes},
       {"usedBytes", v.usedBytes},
       {"appBytes", v.appBytes},
       {"wiredBytes", v.wiredBytes},
       {"compressedBytes", v.compressedBytes},
       {"cachedBytes", v.cachedBytes},
       {"availableBytes", v.availableBytes},
       {"pressure", v.pressure},
       {"swapUsedBytes", v.swapUsedBytes},
       {"swapTotalBytes", v.swapTotalBytes},
       {"swapOutsPerSecond", v.swapOutsPerSecond}};
}
void from_json(const nlohmann::json& j, SystemMetrics::Memory& v) {
  j.at("totalBytes").get_to(v.totalBytes);
  j.at("usedBytes").get_to(v.usedBytes);
  j.at("appBytes").get_to(v.appBytes);
  j.at("wiredBytes").get_to(v.wiredBytes);
  j.at("compressedBytes").get_to(v.compressedBytes);
  j.at("cachedBytes").get_to(v.cachedBytes);
  j.at("availableBytes").get_to(v.availableBytes);
  j.at("pressure").get_to(v.pressure);
  j.at("swapUsedBytes").get_to(v.swapUsedBytes);
  j.at("swapTotalBytes").get_to(v.swapTotalBytes);
  j.at("swapOutsPerSecond").get_to(v.swapOutsPerSecond);
}

void to_json(nlohmann::json& j, const SystemMetrics::Volume& v) {
  j = {
      {"path", v.path}, {"name", v.name}, {"totalBytes", v.totalBytes}, {"freeBytes", v.freeBytes}};
}
void from_json(const nlohmann::json& j, SystemMetrics::Volume& v) {
  j.at("path").get_to(v.path);
  j.at("name").get_to(v.name);
  j.at("totalBytes").get_to(v.totalBytes);
  j.at("freeBytes").get_to(v.freeBytes);
}

void to_json(nlohmann::json& j, const SystemMetrics& v) {
  j = {{"timestamp", v.timestamp},
       {"sampleSeconds", v.sampleSeconds},
       {"cpu", v.cpu},
       {"memory", v.memory},
       {"volumes", v.volumes},
       {"thermalState", v.thermalState},
       {"lowPowerMode", v.lowPowerMode}};
}
void from_json(const nlohmann::json& j, SystemMetrics& v) {
  j.at("timestamp").get_to(v.timestamp);
  j.at("sampleSeconds").get_to(v.sampleSeconds);
  j.at("cpu").get_to(v.cpu);
  j.at("memory").get_to(v.memory);
  j.at("volumes").get_to(v.volumes);
  j.at("thermalState").get_to(v.thermalState);
  j.at("lowPowerMode").get_to(v.lowPowerMode);
}

}  // namespace norvo
