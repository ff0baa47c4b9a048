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

  friend bool operator==(const Action&, const Action&) = default;
};

void to_json(nlohmann::json& j, const Action& a);
// Every key is required; a pid that is not a whole 32-bit number fails.
void from_json(const nlohmann::json& j, Action& a);

}  // namespace norvo::NorvoStore
