#include "core/assess/norvo_snapshot.hpp"

#include "core/records/record_fields.hpp"

namespace norvo {

constexpr auto norvoSnapshotFields =
    record_fields::list(record_fields::field("metrics", &NorvoSnapshot::metrics),
                        record_fields::field("assessment", &NorvoSnapshot::assessment),
                        record_fields::field("processes", &NorvoSnapshot::processes),
                        record_fields::field("apps", &NorvoSnapshot::apps),
                        record_fields::field("aiTasks", &NorvoSnapshot::aiTasks),
                        record_fields::field("sensors", &NorvoSnapshot::sensors),
                        record_fields::field("health", &NorvoSnapshot::health),
                        record_fields::field("zombies", &NorvoSnapshot::zombies),
                        record_fields::field("longCPU", &NorvoSnapshot::longCPU));
void to_json(nlohmann::json& j, const NorvoSnapshot& s) { norvoSnapshotFields.write(j, s); }
void from_json(const nlohmann::json& j, NorvoSnapshot& s) { norvoSnapshotFields.read(j, s); }

}  // namespace norvo
