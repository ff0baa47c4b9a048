#include "core/assess/health.hpp"

namespace norvo {

void to_json(nlohmann::json& j, const Health::Deduction& d) {
  j = {{"points", d.points}, {"reason", d.reason}, {"reasonRu", d.reasonRu}};
}
void from_json(const nlohmann::json& j, Health::Deduction& d) {
  j.at("points").get_to(d.points);
  j.at("reason").get_to(d.reason);
  j.at("reasonRu").get_to(d.reasonRu);
}

void to_json(nlohmann::json& j, const Health& h) {
  j = {{"score", h.score}, {"deductions", h.deductions}};
}
void from_json(const nlohmann::json& j, Health& h) {
  j.at("score").get_to(h.score);
  j.at("deductions").get_to(h.deductions);
}

void to_json(nlohmann::json& j, const ZombieReport::Parent& p) {
  j = {{"pid", p.pid}, {"name", p.name}, {"count", p.count}};
}
void from_json(const nlohmann::json& j, ZombieReport::Parent& p) {
  j.at("pid").get_to(p.pid);
  j.at("name").get_to(p.name);
  j.at("count").get_to(p.count);
}

void to_json(nlohmann::json& j, const ZombieReport& z) {
  j = {{"count", z.count}, {"parents", z.parents}};
}
void from_json(const nlohmann::json& j, ZombieReport& z) {
  j.at("count").get_to(z.count);
  j.at("parents").get_to(z.parents);
}

void to_json(nlohmann::json& j, const LongCPUProcess& p) {
  j = {{"pid", p.pid},
       {"name", p.name},
       {"category", p.category},
       {"orphaned", p.orphaned},
       {"averageCPU", p.averageCPU},
       {"minutes", p.minutes}};
  json_codec::putOptional(j, "appName", p.appName);
  json_codec::putOptional(j, "agentPid", p.agentPid);
}
void from_json(const nlohmann::json& j, LongCPUProcess& p) {
  j.at("pid").get_to(p.pid);
  j.at("name").get_to(p.name);
  j.at("category").get_to(p.category);
  j.at("orphaned").get_to(p.orphaned);
  j.at("averageCPU").get_to(p.averageCPU);
  j.at("minutes").get_to(p.minutes);
  json_codec::getOptional(j, "appName", p.appName);
  json_codec::getOptional(j, "agentPid", p.agentPid);
}

}  // namespace norvo
