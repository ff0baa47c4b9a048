#include "core/assess/assessment.hpp"

#include "core/records/record_fields.hpp"

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

constexpr auto assessmentFields = record_fields::list(
    record_fields::field("level", &Assessment::level),
    record_fields::field("reasons", &Assessment::reasons),
    record_fields::field("reasonsRu", &Assessment::reasonsRu),
    record_fields::field("recommendedParallelJobs", &Assessment::recommendedParallelJobs),
    record_fields::field("recommendedBuildThreads", &Assessment::recommendedBuildThreads),
    record_fields::field("advice", &Assessment::advice),
    record_fields::field("quitCandidates", &Assessment::quitCandidates),
    record_fields::field("heavyAITasks", &Assessment::heavyAITasks),
    record_fields::field("hungProcesses", &Assessment::hungProcesses));
void to_json(nlohmann::json& j, const Assessment& a) { assessmentFields.write(j, a); }
void from_json(const nlohmann::json& j, Assessment& a) { assessmentFields.read(j, a); }

}  // namespace norvo
