#include "core/records/norvo_store_action.hpp"

#include "core/records/record_fields.hpp"

namespace norvo::NorvoStore {

constexpr auto actionFields = record_fields::list(
    record_fields::field("date", &Action::date), record_fields::field("actor", &Action::actor),
    record_fields::field("kind", &Action::kind), record_fields::field("pid", &Action::pid),
    record_fields::field("name", &Action::name), record_fields::field("detail", &Action::detail));
void to_json(nlohmann::json& j, const Action& a) { actionFields.write(j, a); }
void from_json(const nlohmann::json& j, Action& a) { actionFields.read(j, a); }

}  // namespace norvo::NorvoStore
