// Strict readers for the integer fields of store records. nlohmann converts a
// fraction or an out-of-range number silently (3.7 becomes 3, 2^40 wraps in a
// 32-bit field); a store record with such a value was not written by us and
// must fail to decode as a whole, like a record with a missing key.
#pragma once

#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>

namespace norvo::json_codec {

// The integer under `key`; throws nlohmann::json::exception when the key is
// missing, the value is not a whole number, or it does not fit in T.
template <typename T>
T getInteger(const nlohmann::json& j, const char* key) {
  static_assert(std::is_integral_v<T>);
  const nlohmann::json& v = j.at(key);
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

}  // namespace norvo::json_codec
