// The load judgement of one sample: level, reasons in English and Russian,
// how many heavy jobs and build threads an agent may run, advice for agents,
// and the heavy apps, AI tasks and hung processes behind it.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/measure/process_sample.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

// Declared in severity order, so comparisons follow severity.
enum class LoadLevel { ok = 0, busy = 1, overloaded = 2, critical = 3 };

inline auto operator<=>(LoadLevel a, LoadLevel b) {
  return static_cast<int>(a) <=> static_cast<int>(b);
}

int severity(LoadLevel level);
std::string_view rawValue(LoadLevel level);
// Absent for any text other than the four raw values.
std::optional<LoadLevel> loadLevelFromRaw(std::string_view raw);

struct Assessment {
  LoadLevel level = LoadLevel::ok;
  std::vector<std::string> reasons;
  std::vector<std::string> reasonsRu;  // same length as reasons
  int64_t recommendedParallelJobs = 0;
  int64_t recommendedBuildThreads = 0;
  std::vector<std::string> advice;
  std::vector<AppGroup> quitCandidates;     // at most 8
  std::vector<ProcessSample> heavyAITasks;  // at most 10
  std::vector<std::string> hungProcesses;

  friend bool operator==(const Assessment&, const Assessment&) = default;
};

void to_json(nlohmann::json& j, LoadLevel l);
void from_json(const nlohmann::json& j, LoadLevel& l);
void to_json(nlohmann::json& j, const Assessment& a);
void from_json(const nlohmann::json& j, Assessment& a);

}  // namespace norvo
