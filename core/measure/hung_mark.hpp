// One process-detail read that hung or is in flight, as kept in "hung-v2.json".
#pragma once

#include <string>

#include "core/records/json_codec.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::NorvoStore {

struct HungMark {
  std::string name;
  Date since;

  friend bool operator==(const HungMark&, const HungMark&) = default;
};

inline constexpr auto hungMarkFields = record_fields::list(
    record_fields::field("name", &HungMark::name), record_fields::field("since", &HungMark::since));
inline void to_json(nlohmann::json& j, const HungMark& m) { hungMarkFields.write(j, m); }
inline void from_json(const nlohmann::json& j, HungMark& m) { hungMarkFields.read(j, m); }

}  // namespace norvo::NorvoStore
