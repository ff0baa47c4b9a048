#include "core/records/norvo_store_action.hpp"

#include <charconv>
#include <cmath>

#include "core/records/record_fields.hpp"

namespace norvo::NorvoStore {

std::string describeSeconds(double seconds) {
  if (std::isnan(seconds)) return "nan";
  if (std::isinf(seconds)) return seconds < 0 ? "-inf" : "inf";
  char buf[64];
  double magnitude = std::fabs(seconds);
  bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds,
                                 plain ? std::chars_format::fixed : std::chars_format::scientific);
  std::string text(buf, ec == std::errc{} ? end : buf);
  if (plain && text.find('.') == std::string::npos) text += ".0";
  return text;
}

std::string Action::id() const {
  // Whole seconds and the fraction apart, so that 0.25 s stays exactly 0.25
  // instead of picking up the rounding of one big division.
  auto since = date.time_since_epoch();
  auto whole = std::chrono::floor<std::chrono::seconds>(since);
  double secs =
      static_cast<double>(whole.count()) + std::chrono::duration<double>(since - whole).count();
  return describeSeconds(secs) + "-" + std::to_string(pid);
}

constexpr auto actionFields = record_fields::list(
    record_fields::field("date", &Action::date), record_fields::field("actor", &Action::actor),
    record_fields::field("kind", &Action::kind), record_fields::field("pid", &Action::pid),
    record_fields::field("name", &Action::name), record_fields::field("detail", &Action::detail));
void to_json(nlohmann::json& j, const Action& a) { actionFields.write(j, a); }
void from_json(const nlohmann::json& j, Action& a) { actionFields.read(j, a); }

}  // namespace norvo::NorvoStore
