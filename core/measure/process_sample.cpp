#include "core/measure/process_sample.hpp"

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

std::string processKey(int32_t pid, uint64_t startTime) {
  return std::to_string(pid) + ":" + std::to_string(startTime);
}

std::string ProcessReading::key() const { return processKey(pid, startTime); }

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

void to_json(nlohmann::json& j, const ProcessSample& s) {
  j = {{"pid", s.pid},
       {"ppid", s.ppid},
       {"name", s.name},
       {"path", s.path},
       {"arguments", s.arguments},
       {"cpuPercent", s.cpuPercent},
       {"memoryBytes", s.memoryBytes},
       {"category", s.category},
       {"orphaned", s.orphaned}};
  json_codec::putOptional(j, "appName", s.appName);
  json_codec::putOptional(j, "bundleID", s.bundleID);
  json_codec::putOptional(j, "agentPid", s.agentPid);
}

void from_json(const nlohmann::json& j, ProcessSample& s) {
  j.at("pid").get_to(s.pid);
  j.at("ppid").get_to(s.ppid);
  j.at("name").get_to(s.name);
  j.at("path").get_to(s.path);
  j.at("arguments").get_to(s.arguments);
  j.at("cpuPercent").get_to(s.cpuPercent);
  j.at("memoryBytes").get_to(s.memoryBytes);
  j.at("category").get_to(s.category);
  j.at("orphaned").get_to(s.orphaned);
  json_codec::getOptional(j, "appName", s.appName);
  json_codec::getOptional(j, "bundleID", s.bundleID);
  json_codec::getOptional(j, "agentPid", s.agentPid);
}

void to_json(nlohmann::json& j, const AppGroup& g) {
  j = {{"name", g.name},
       {"bundlePath", g.bundlePath},
       {"mainPid", g.mainPid},
       {"processCount", g.processCount},
       {"cpuPercent", g.cpuPercent},
       {"memoryBytes", g.memoryBytes},
       {"category", g.category}};
  json_codec::putOptional(j, "bundleID", g.bundleID);
}

void from_json(const nlohmann::json& j, AppGroup& g) {
  j.at("name").get_to(g.name);
  j.at("bundlePath").get_to(g.bundlePath);
  j.at("mainPid").get_to(g.mainPid);
  j.at("processCount").get_to(g.processCount);
  j.at("cpuPercent").get_to(g.cpuPercent);
  j.at("memoryBytes").get_to(g.memoryBytes);
  j.at("category").get_to(g.category);
  json_codec::getOptional(j, "bundleID", g.bundleID);
}

}  // namespace norvo
