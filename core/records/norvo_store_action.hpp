// One line of the actions log "actions.jsonl": what was done to the owner's
// machine, by whom, to which process or object.
#pragma once

#include <cstdint>
#include <string>

#include "core/records/json_codec.hpp"

namespace norvo::NorvoStore {

struct Action {
  Date date;
  std::string actor;  // the app, "ai", "owner", …
  std::string kind;   // what was done
  int32_t pid = 0;    // process concerned
  std::string name;   // name of the process or object concerned
  std::string detail;

  // The date as seconds since 1970 in the shortest decimal text that reads back
  // as the same double (always with a fraction, "1700000000.0"), a hyphen, and
  // the pid. Not stored: it is recomputed from the fields.
  std::string id() const;

  friend bool operator==(const Action&, const Action&) = default;
};

void to_json(nlohmann::json& j, const Action& a);
// Every key is required; a pid that is not a whole 32-bit number fails.
void from_json(const nlohmann::json& j, Action& a);

// The rendering `Action::id` uses for the seconds: plain decimal with at least
// one fractional digit below 2^53 (and above 1e-4 in magnitude), exponent form
// beyond ("1e+16"), shortest round-trip digits in both.
std::string describeSeconds(double seconds);

}  // namespace norvo::NorvoStore
