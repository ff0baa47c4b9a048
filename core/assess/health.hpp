// How well the machine is doing overall, and two of the findings behind the
// score: zombie processes by the parent that fails to reap them, and
// processes that kept a core busy for minutes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/measure/process_sample.hpp"
#include "core/measure/system_metrics.hpp"
#include "core/records/json_codec.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo {

struct ZombieReport;
struct LongCPUProcess;

struct Health {
  struct Deduction {
    int64_t points = 0;
    std::string reason;
    std::string reasonRu;

    friend bool operator==(const Deduction&, const Deduction&) = default;
  };

  int64_t score = 100;                // 100 minus the points, never below 0
  std::vector<Deduction> deductions;  // largest first, ties in rule order

  // Scores one sample: every rule that fires deducts its points. `hung` is
  // the number of processes hung in the kernel. Without a sensor report the
  // battery and uptime rules are skipped, without a zombie report the zombie
  // rule; a machine without any volume counts as having 0 GB free. Non-finite
  // figures count as 0. Never throws.
  static Health assess(const SystemMetrics& metrics, int64_t hung,
                       const std::optional<SensorReport>& sensors,
                       const std::optional<ZombieReport>& zombies,
                       const std::vector<LongCPUProcess>& longCPU);

  friend bool operator==(const Health&, const Health&) = default;
};

struct ZombieReport {
  struct Parent {
    int32_t pid = 0;
    std::string name;  // "?" when the parent is not in the process list
    int64_t count = 0;

    friend bool operator==(const Parent&, const Parent&) = default;
  };

  int64_t count = 0;
  std::vector<Parent> parents;  // at most 3

  // One process of the process list, as far as zombies are concerned.
  struct Entry {
    int32_t pid = 0;
    int32_t ppid = 0;
    std::string name;  // short command name
    bool zombie = false;
  };

  // Counts the zombies of a process list; parents holding the most first
  // (ties in list order), at most 3 of them.
  static ZombieReport tally(const std::vector<Entry>& processes);

  friend bool operator==(const ZombieReport&, const ZombieReport&) = default;
};

struct LongCPUProcess {
  int32_t pid = 0;
  std::string name;
  ProcessCategory category = ProcessCategory::system;
  std::optional<std::string> appName;
  std::optional<int32_t> agentPid;
  bool orphaned = false;
  double averageCPU = 0;  // one decimal
  int64_t minutes = 0;

  int32_t id() const { return pid; }

  friend bool operator==(const LongCPUProcess&, const LongCPUProcess&) = default;
};

void to_json(nlohmann::json& j, const Health::Deduction& d);
void from_json(const nlohmann::json& j, Health::Deduction& d);
void to_json(nlohmann::json& j, const Health& h);
void from_json(const nlohmann::json& j, Health& h);
void to_json(nlohmann::json& j, const ZombieReport::Parent& p);
void from_json(const nlohmann::json& j, ZombieReport::Parent& p);
void to_json(nlohmann::json& j, const ZombieReport& z);
void from_json(const nlohmann::json& j, ZombieReport& z);
void to_json(nlohmann::json& j, const LongCPUProcess& p);
void from_json(const nlohmann::json& j, LongCPUProcess& p);

}  // namespace norvo
