// One process-detail read that hung or is in flight, as kept in "hung-v2.json".
#pragma once

#include <string>

#include "core/records/json_codec.hpp"

namespace norvo::NorvoStore {

struct HungMark {
  std::string name;
  Date since;

  friend bool operator==(const HungMark&, const HungMark&) = default;
};

inline void to_json(nlohmann::json& j, const HungMark& m) {
  j = nlohmann::json{{"name", m.name}, {"since", m.since}};
}
inline void from_json(const nlohmann::json& j, HungMark& m) {
  j.at("name").get_to(m.name);
  j.at("since").get_to(m.since);
}

}  // namespace norvo::NorvoStore
