#include "core/assess/norvo_snapshot.hpp"

namespace norvo {

void to_json(nlohmann::json& j, const NorvoSnapshot& s) {
  j = {{"metrics", s.metrics},
       {"assessment", s.assessment},
       {"processes", s.processes},
       {"apps", s.apps},
       {"aiTasks", s.aiTasks}};
  json_codec::putOptional(j, "sensors", s.sensors);
  json_codec::putOptional(j, "health", s.health);
  json_codec::putOptional(j, "zombies", s.zombies);
  json_codec::putOptional(j, "longCPU", s.longCPU);
}

void from_json(const nlohmann::json& j, NorvoSnapshot& s) {
  j.at("metrics").get_to(s.metrics);
  j.at("assessment").get_to(s.assessment);
  j.at("processes").get_to(s.processes);
  j.at("apps").get_to(s.apps);
  j.at("aiTasks").get_to(s.aiTasks);
  json_codec::getOptional(j, "sensors", s.sensors);
  json_codec::getOptional(j, "health", s.health);
  json_codec::getOptional(j, "zombies", s.zombies);
  json_codec::getOptional(j, "longCPU", s.longCPU);
}

}  // namespace norvo
