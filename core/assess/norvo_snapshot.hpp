// Everything one tick measured and judged: the record the sampling loop
// publishes as "status.json" and agents read their digest from.
#pragma once

#include <optional>
#include <vector>

#include "core/assess/assessment.hpp"
#include "core/assess/health.hpp"
#include "core/measure/process_sample.hpp"
#include "core/measure/system_metrics.hpp"
#include "core/records/json_codec.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo {

struct NorvoSnapshot {
  SystemMetrics metrics;  // its timestamp is the snapshot's time
  Assessment assessment;
  std::vector<ProcessSample> processes;  // at most 30
  std::vector<AppGroup> apps;            // at most 20
  std::vector<ProcessSample> aiTasks;    // at most 40
  std::optional<SensorReport> sensors;
  std::optional<Health> health;
  std::optional<ZombieReport> zombies;
  std::optional<std::vector<LongCPUProcess>> longCPU;
};

void to_json(nlohmann::json& j, const NorvoSnapshot& s);
void from_json(const nlohmann::json& j, NorvoSnapshot& s);

}  // namespace norvo
