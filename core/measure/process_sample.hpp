// The shapes in which processes travel: one reading as the process table made
// it, one classified and costed sample in a snapshot, and the processes of one
// app grouped together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/json_codec.hpp"

namespace norvo {

enum class ProcessCategory { aiAgent, aiInfra, aiTask, userApp, system };

// "ai_agent", "ai_infra", "ai_task", "user_app", "system".
std::string_view rawValue(ProcessCategory category);
std::optional<ProcessCategory> processCategoryFromRaw(std::string_view raw);

// One process as read. Not serialised.
struct ProcessReading {
  int32_t pid = 0;
  int32_t ppid = 0;
  uint32_t uid = 0;
  std::string name;
  std::string path;        // as started, links not resolved; empty when not read
  std::string executable;  // the file the kernel runs, links resolved; empty when not read
  std::string arguments;   // joined by spaces, at most 400 characters then "…"
  uint64_t startTime = 0;  // see platform::ProcessBasics::startTime
  std::string bootId;      // empty where the system gives none
  std::optional<uint64_t> cpuNanos;
  std::optional<uint64_t> footprintBytes;
  int32_t responsiblePid = 0;  // equals pid when the system names none
  // The kernel's short command name: the name the program was started under,
  // even through a link (Linux resolves links in the executable path).
  std::string command;
  // The desktop entry of the app unit the session launched the process in
  // (Linux); stands in for an app bundle where programs have none.
  std::optional<std::string> appEntry;
  char state = '?';  // the kernel's one-letter run state ('Z' for a zombie)

  // "<pid>:<startTime>", then "@<bootId>" where there is one: tells a reused
  // pid from the process that had it before, in this boot or an earlier one.
  std::string key() const;
};

std::string processKey(int32_t pid, uint64_t startTime, std::string_view bootId = {});

struct ProcessSample {
  int32_t pid = 0;
  int32_t ppid = 0;
  std::string name;
  std::string path;
  std::string arguments;
  double cpuPercent = 0;  // percent of one core since the previous sample
  uint64_t memoryBytes = 0;
  ProcessCategory category = ProcessCategory::system;
  std::optional<std::string> appName;
  std::optional<std::string> bundleID;
  std::optional<int32_t> agentPid;
  bool orphaned = false;

  int32_t id() const { return pid; }

  // True for agent tasks that are orphaned or belong to `byAgent`; what an
  // agent may stop.
  bool killable(std::optional<int32_t> byAgent) const;

  friend bool operator==(const ProcessSample&, const ProcessSample&) = default;
};

struct AppGroup {
  std::string name;
  std::string bundlePath;
  std::optional<std::string> bundleID;
  int32_t mainPid = 0;
  int64_t processCount = 0;
  double cpuPercent = 0;
  uint64_t memoryBytes = 0;
  ProcessCategory category = ProcessCategory::userApp;

  const std::string& id() const { return bundlePath; }

  friend bool operator==(const AppGroup&, const AppGroup&) = default;
};

void to_json(nlohmann::json& j, ProcessCategory c);
void from_json(const nlohmann::json& j, ProcessCategory& c);
void to_json(nlohmann::json& j, const ProcessSample& s);
void from_json(const nlohmann::json& j, ProcessSample& s);
void to_json(nlohmann::json& j, const AppGroup& g);
void from_json(const nlohmann::json& j, AppGroup& g);

}  // namespace norvo
