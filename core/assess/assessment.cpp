#include "core/assess/assessment.hpp"

namespace norvo {

int severity(LoadLevel level) { return static_cast<int>(level); }

std::string_view rawValue(LoadLevel level) {
  switch (level) {
    case LoadLevel::ok: return "ok";
    case LoadLevel::busy: return "busy";
    case LoadLevel::overloaded: return "overloaded";
    case LoadLevel::critical: return "critical";
  }
  return "ok";
}

std::optional<LoadLevel> loadLevelFromRaw(std::string_view raw) {
  for (auto l : {LoadLevel::ok, LoadLevel::busy, LoadLevel::overloaded, LoadLevel::critical})
    if (rawValue(l) == raw) return l;
  return std::nullopt;
}

void to_json(nlohmann::json& j, LoadLevel l) { j = std::string(rawValue(l)); }

void from_json(const nlohmann::json& j, LoadLevel& l) {
  auto parsed = loadLevelFromRaw(j.get<std::string>());
  if (!parsed) throw nlohmann::json::type_error::create(302, "unknown load level", &j);
  l = *parsed;
}

void to_json(nlohmann::json& j, const Assessment& a) {
  j = {{"level", a.level},
       {"reasons", a.reasons},
       {"reasonsRu", a.reasonsRu},
       {"recommendedParallelJobs", a.recommendedParallelJobs},
       {"recommendedBuildThreads", a.recommendedBuildThreads},
       {"advice", a.advice},
       {"quitCandidates", a.quitCandidates},
       {"heavyAITasks", a.heavyAITasks},
       {"hungProcesses", a.hungProcesses}};
}

void from_json(const nlohmann::json& j, Assessment& a) {
  j.at("level").get_to(a.level);
  j.at("reasons").get_to(a.reasons);
  j.at("reasonsRu").get_to(a.reasonsRu);
  j.at("recommendedParallelJobs").get_to(a.recommendedParallelJobs);
  j.at("recommendedBuildThreads").get_to(a.recommendedBuildThreads);
  j.at("advice").get_to(a.advice);
  j.at("quitCandidates").get_to(a.quitCandidates);
  j.at("heavyAITasks").get_to(a.heavyAITasks);
  j.at("hungProcesses").get_to(a.hungProcesses);
}

}  // namespace norvo
