// Plain sample values shared by the assessment tests.
#pragma once

#include <cstdint>
#include <string>

#include "core/measure/process_sample.hpp"
#include "core/measure/system_metrics.hpp"

namespace norvo::test {

constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;

// A quiet 10-core machine (8 performance cores) with 32 GB of memory, a
// quarter used, and 500 GB free on "/": no rule fires on it.
inline SystemMetrics idleMachine() {
  SystemMetrics m;
  m.cpu.usage = 0.1;
  m.cpu.logicalCores = 10;
  m.cpu.performanceCores = 8;
  m.cpu.efficiencyCores = 2;
  m.cpu.loadAverage1m = 1.5;
  m.cpu.freeCores = 9;
  m.memory.totalBytes = 32 * GiB;
  m.memory.usedBytes = 8 * GiB;
  m.memory.cachedBytes = 4 * GiB;
  m.memory.availableBytes = 24 * GiB;
  m.memory.pressure = "normal";
  m.thermalState = "nominal";
  m.volumes = {
      {"/", "Macintosh HD", static_cast<int64_t>(1000 * GiB), static_cast<int64_t>(500 * GiB)}};
  return m;
}

inline SystemMetrics withFreeBytes(SystemMetrics m, double bytes) {
  m.volumes = {
      {"/", "Macintosh HD", static_cast<int64_t>(1000 * GiB), static_cast<int64_t>(bytes)}};
  return m;
}

inline AppGroup app(std::string name, double cpuPercent, uint64_t memoryBytes,
                    ProcessCategory category = ProcessCategory::userApp,
                    std::optional<std::string> bundleID = std::nullopt) {
  AppGroup g;
  g.name = std::move(name);
  g.bundlePath = "/Applications/" + g.name + ".app";
  g.bundleID = std::move(bundleID);
  g.mainPid = 100;
  g.processCount = 1;
  g.cpuPercent = cpuPercent;
  g.memoryBytes = memoryBytes;
  g.category = category;
  return g;
}

inline ProcessSample task(int32_t pid, double cpuPercent, uint64_t memoryBytes) {
  ProcessSample s;
  s.pid = pid;
  s.ppid = 1;
  s.name = "task" + std::to_string(pid);
  s.cpuPercent = cpuPercent;
  s.memoryBytes = memoryBytes;
  s.category = ProcessCategory::aiTask;
  return s;
}

}  // namespace norvo::test
