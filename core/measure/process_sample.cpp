#include "core/measure/process_sample.hpp"

#include "core/records/record_fields.hpp"

namespace norvo {

std::string_view rawValue(ProcessCategory category) {
  switch (category) {
    case ProcessCategory::aiAgent: return "ai_agent";
    case ProcessCategory::aiInfra: return "ai_infra";
    case ProcessCategory::aiTask: return "ai_task";
    case ProcessCategory::userApp: return "user_app";
    case ProcessCategory::system: return "system";
  }
  return "system";
}

std::optional<ProcessCategory> processCategoryFromRaw(std::string_view raw) {
  for (auto c : {ProcessCategory::aiAgent, ProcessCategory::aiInfra, ProcessCategory::aiTask,
                 ProcessCategory::userApp, ProcessCategory::system})
    if (rawValue(c) == raw) return c;
  return std::nullopt;
}

std::string processKey(int32_t pid, uint64_t startTime, std::string_view bootId) {
  std::string key = std::to_string(pid) + ":" + std::to_string(startTime);
  if (!bootId.empty()) key.append("@").append(bootId);
  return key;
}

std::string ProcessReading::key() const { return processKey(pid, startTime, bootId); }

bool ProcessSample::killable(std::optional<int32_t> byAgent) const {
  if (category != ProcessCategory::aiTask) return false;
  if (orphaned) return true;
  return byAgent && agentPid && *byAgent == *agentPid;
}

void to_json(nlohmann::json& j, ProcessCategory c) { j = std::string(rawValue(c)); }

void from_json(const nlohmann::json& j, ProcessCategory& c) {
  auto parsed = processCategoryFromRaw(j.get<std::string>());
  if (!parsed) throw nlohmann::json::type_error::create(302, "unknown process category", &j);
  c = *parsed;
}

constexpr auto processSampleFields =
    record_fields::list(record_fields::field("pid", &ProcessSample::pid),
                        record_fields::field("ppid", &ProcessSample::ppid),
                        record_fields::field("name", &ProcessSample::name),
                        record_fields::field("path", &ProcessSample::path),
                        record_fields::field("arguments", &ProcessSample::arguments),
                        record_fields::field("cpuPercent", &ProcessSample::cpuPercent),
                        record_fields::field("memoryBytes", &ProcessSample::memoryBytes),
                        record_fields::field("category", &ProcessSample::category),
                        record_fields::field("orphaned", &ProcessSample::orphaned),
                        record_fields::field("appName", &ProcessSample::appName),
                        record_fields::field("bundleID", &ProcessSample::bundleID),
                        record_fields::field("agentPid", &ProcessSample::agentPid));
void to_json(nlohmann::json& j, const ProcessSample& s) { processSampleFields.write(j, s); }
void from_json(const nlohmann::json& j, ProcessSample& s) { processSampleFields.read(j, s); }

constexpr auto appGroupFields =
    record_fields::list(record_fields::field("name", &AppGroup::name),
                        record_fields::field("bundlePath", &AppGroup::bundlePath),
                        record_fields::field("mainPid", &AppGroup::mainPid),
                        record_fields::field("processCount", &AppGroup::processCount),
                        record_fields::field("cpuPercent", &AppGroup::cpuPercent),
                        record_fields::field("memoryBytes", &AppGroup::memoryBytes),
                        record_fields::field("category", &AppGroup::category),
                        record_fields::field("bundleID", &AppGroup::bundleID));
void to_json(nlohmann::json& j, const AppGroup& g) { appGroupFields.write(j, g); }
void from_json(const nlohmann::json& j, AppGroup& g) { appGroupFields.read(j, g); }

}  // namespace norvo
