// Plain sample values shared by the assessment tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/measure/process_sample.hpp"
#include "core/measure/system_metrics.hpp"

namespace norvo::test {

constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;

inline SystemMetrics withFreeBytes(SystemMetrics m, double bytes) {
  m.volumes = {{"/", "Macintosh HD", int64_t(1000 * GiB), int64_t(bytes)}};
  return m;
}

// A quiet 10-core machine (8 performance cores) with 32 GB of memory, a
// quarter used, and 500 GB free on "/": no rule fires on it.
inline SystemMetrics idleMachine() {
  SystemMetrics m;
  m.cpu = {0.1, 10, 8, 2, 1.5, 0, 9};
  m.memory = {32 * GiB, 8 * GiB, 0, 0, 0, 4 * GiB, 24 * GiB};
  m.thermalState = "nominal";
  return withFreeBytes(m, 500.0 * GiB);
}

inline AppGroup app(std::string name, double cpuPercent, uint64_t memoryBytes,
                    ProcessCategory category = ProcessCategory::userApp,
                    std::optional<std::string> bundleID = std::nullopt) {
  auto path = "/Applications/" + name + ".app";
  return {name, path, std::move(bundleID), 100, 1, cpuPercent, memoryBytes, category};
}

inline ProcessSample sample(int32_t pid, std::string name,
                            ProcessCategory category = ProcessCategory::aiTask,
                            std::optional<int32_t> agent = std::nullopt, bool orphaned = false,
                            double cpu = 0, uint64_t memory = 0) {
  return {pid, 1, std::move(name), "", "", cpu, memory, category, {}, {}, agent, orphaned};
}

// An agent task of no known agent.
inline ProcessSample task(int32_t pid, double cpuPercent, uint64_t memoryBytes) {
  return sample(pid, "task" + std::to_string(pid), ProcessCategory::aiTask, std::nullopt, false,
                cpuPercent, memoryBytes);
}

}  // namespace norvo::test
