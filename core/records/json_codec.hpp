// The one JSON form every store file and record shares: keys sorted, no pretty
// printing, dates as ISO-8601 UTC text with whole seconds and "Z", absent
// optional fields left out. Records hook in through nlohmann's to_json/from_json;
// the helpers below keep the optional and date rules in one place.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace norvo {

// Dates everywhere in records. Encoding drops the fraction of a second.
using Date = std::chrono::system_clock::time_point;

// "2026-12-05T17:37:50Z". Dates outside years 0..9999 are clamped to that range.
std::string formatIso8601(Date date);

// Accepts "YYYY-MM-DDTHH:MM:SS" with an optional fraction and "Z" or a ±HH:MM
// offset; anything else gives absent.
std::optional<Date> parseIso8601(std::string_view text);

namespace json_codec {

// Compact text with sorted keys (nlohmann's default object map is ordered).
// Never throws: invalid UTF-8 is replaced rather than rejected.
std::string encode(const nlohmann::json& value);

// Absent for empty, truncated or malformed text.
std::optional<nlohmann::json> decode(std::string_view text);

// Writes `key` only when the value is present.
template <typename T>
void putOptional(nlohmann::json& j, const char* key, const std::optional<T>& value) {
  if (value) j[key] = *value;
}

// Absent key or null reads as absent; a present value of the wrong type throws,
// so that a record of another shape fails to decode as a whole.
template <typename T>
void getOptional(const nlohmann::json& j, const char* key, std::optional<T>& out) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) {
    out.reset();
  } else {
    out = it->template get<T>();
  }
}

// Decodes a whole record; absent when the text is not JSON or does not have the
// record's shape (missing required key, wrong type).
template <typename T>
std::optional<T> decodeAs(std::string_view text) {
  auto parsed = decode(text);
  if (!parsed) return std::nullopt;
  try {
    return parsed->template get<T>();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

template <typename T>
std::string encodeRecord(const T& value) {
  return encode(nlohmann::json(value));
}

}  // namespace json_codec
}  // namespace norvo

namespace nlohmann {
template <>
struct adl_serializer<norvo::Date> {
  static void to_json(json& j, const norvo::Date& date) { j = norvo::formatIso8601(date); }
  static void from_json(const json& j, norvo::Date& date) {
    auto parsed = norvo::parseIso8601(j.get<std::string>());
    if (!parsed) throw json::type_error::create(302, "date is not ISO-8601 text", &j);
    date = *parsed;
  }
};
}  // namespace nlohmann
