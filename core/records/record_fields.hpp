// Each record states its JSON fields once, as a list of (key, member) pairs,
// and both directions of the shared codec are derived from that list:
//
//   constexpr auto volumeFields = record_fields::list(
//       record_fields::field("path", &Volume::path),
//       record_fields::field("freeBytes", &Volume::freeBytes));
//   void to_json(nlohmann::json& j, const Volume& v) { volumeFields.write(j, v); }
//   void from_json(const nlohmann::json& j, Volume& v) { volumeFields.read(j, v); }
//
// The rules live here rather than in every record: a std::optional member is
// left out when absent and reads null or a missing key as absent; any other
// member is required. Integer members are read strictly: nlohmann converts a
// fraction or an out-of-range number silently (3.7 becomes 3, -5 becomes
// 2^64 - 5 in an unsigned field), and a record holding such a value was not
// written by us, so it fails to decode as a whole, like one missing a key.
#pragma once

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>

namespace norvo::json_codec {

// `v` as a T; throws nlohmann::json::exception when it is not a whole number
// that fits in T. `key` names the field in the message.
template <typename T>
T toInteger(const nlohmann::json& v, const char* key) {
  static_assert(std::is_integral_v<T>);
  if (v.is_number_unsigned()) {
    auto u = v.get<uint64_t>();
    if (u <= static_cast<uint64_t>(std::numeric_limits<T>::max())) return static_cast<T>(u);
  } else if (v.is_number_integer()) {
    auto s = v.get<int64_t>();
    if constexpr (std::is_signed_v<T>) {
      if (s >= std::numeric_limits<T>::min() && s <= std::numeric_limits<T>::max())
        return static_cast<T>(s);
    } else {
      if (s >= 0 && static_cast<uint64_t>(s) <= std::numeric_limits<T>::max())
        return static_cast<T>(s);
    }
  }
  throw nlohmann::json::type_error::create(302, std::string("not a fitting integer: ") + key, &v);
}

// The integer under `key`; throws when the key is missing or the value does
// not fit (see toInteger).
template <typename T>
T getInteger(const nlohmann::json& j, const char* key) {
  return toInteger<T>(j.at(key), key);
}

}  // namespace norvo::json_codec

namespace norvo::record_fields {

template <typename T>
inline constexpr bool isStrictInteger = std::is_integral_v<T> && !std::is_same_v<T, bool>;

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {
  using Value = T;
};

template <typename Record, typename Member>
struct Field {
  const char* key;
  Member Record::*member;

  void write(nlohmann::json& j, const Record& r) const {
    const Member& value = r.*member;
    if constexpr (IsOptional<Member>::value) {
      if (value) j[key] = *value;
    } else {
      j[key] = value;
    }
  }

  void read(const nlohmann::json& j, Record& r) const {
    try {
      readValue(j, r);
    } catch (const nlohmann::json::type_error& e) {
      // Name the field, so that "type must be array, but is string" says where.
      std::string what = e.what();
      if (auto end = what.find("] "); what.rfind("[json.exception", 0) == 0 && end != what.npos)
        what = what.substr(end + 2);
      throw nlohmann::json::type_error::create(302, std::string(key) + ": " + what, &j);
    }
  }

 private:
  void readValue(const nlohmann::json& j, Record& r) const {
    Member& out = r.*member;
    if constexpr (IsOptional<Member>::value) {
      using Value = typename IsOptional<Member>::Value;
      auto it = j.find(key);
      if (it == j.end() || it->is_null()) {
        out.reset();
      } else if constexpr (isStrictInteger<Value>) {
        out = json_codec::toInteger<Value>(*it, key);
      } else {
        out = it->template get<Value>();
      }
    } else if constexpr (isStrictInteger<Member>) {
      out = json_codec::getInteger<Member>(j, key);
    } else {
      j.at(key).get_to(out);
    }
  }
};

template <typename Record, typename Member>
constexpr Field<Record, Member> field(const char* key, Member Record::*member) {
  return {key, member};
}

template <typename... Fields>
struct List {
  std::tuple<Fields...> fields;

  // Replaces `j` with an object holding every present field.
  template <typename Record>
  void write(nlohmann::json& j, const Record& r) const {
    j = nlohmann::json::object();
    std::apply([&](const auto&... f) { (f.write(j, r), ...); }, fields);
  }

  // Reads every field; throws nlohmann::json::exception when `j` is not an
  // object, a required field is missing, or a value has the wrong type.
  template <typename Record>
  void read(const nlohmann::json& j, Record& r) const {
    if (!j.is_object())
      throw nlohmann::json::type_error::create(302, "a record is not an object", &j);
    std::apply([&](const auto&... f) { (f.read(j, r), ...); }, fields);
  }
};

template <typename... Fields>
constexpr List<Fields...> list(Fields... fields) {
  return {std::tuple<Fields...>{fields...}};
}

}  // namespace norvo::record_fields
