#include "core/assess/health.hpp"

#include "core/records/record_fields.hpp"

namespace norvo {

constexpr auto deductionFields =
    record_fields::list(record_fields::field("points", &Health::Deduction::points),
                        record_fields::field("reason", &Health::Deduction::reason),
                        record_fields::field("reasonRu", &Health::Deduction::reasonRu));
void to_json(nlohmann::json& j, const Health::Deduction& d) { deductionFields.write(j, d); }
void from_json(const nlohmann::json& j, Health::Deduction& d) { deductionFields.read(j, d); }

constexpr auto healthFields =
    record_fields::list(record_fields::field("score", &Health::score),
                        record_fields::field("deductions", &Health::deductions));
void to_json(nlohmann::json& j, const Health& h) { healthFields.write(j, h); }
void from_json(const nlohmann::json& j, Health& h) { healthFields.read(j, h); }

constexpr auto parentFields =
    record_fields::list(record_fields::field("pid", &ZombieReport::Parent::pid),
                        record_fields::field("name", &ZombieReport::Parent::name),
                        record_fields::field("count", &ZombieReport::Parent::count));
void to_json(nlohmann::json& j, const ZombieReport::Parent& p) { parentFields.write(j, p); }
void from_json(const nlohmann::json& j, ZombieReport::Parent& p) { parentFields.read(j, p); }

constexpr auto zombieReportFields =
    record_fields::list(record_fields::field("count", &ZombieReport::count),
                        record_fields::field("parents", &ZombieReport::parents));
void to_json(nlohmann::json& j, const ZombieReport& z) { zombieReportFields.write(j, z); }
void from_json(const nlohmann::json& j, ZombieReport& z) { zombieReportFields.read(j, z); }

constexpr auto longCPUProcessFields =
    record_fields::list(record_fields::field("pid", &LongCPUProcess::pid),
                        record_fields::field("name", &LongCPUProcess::name),
                        record_fields::field("category", &LongCPUProcess::category),
                        record_fields::field("orphaned", &LongCPUProcess::orphaned),
                        record_fields::field("averageCPU", &LongCPUProcess::averageCPU),
                        record_fields::field("minutes", &LongCPUProcess::minutes),
                        record_fields::field("appName", &LongCPUProcess::appName),
                        record_fields::field("agentPid", &LongCPUProcess::agentPid));
void to_json(nlohmann::json& j, const LongCPUProcess& p) { longCPUProcessFields.write(j, p); }
void from_json(const nlohmann::json& j, LongCPUProcess& p) { longCPUProcessFields.read(j, p); }

}  // namespace norvo
