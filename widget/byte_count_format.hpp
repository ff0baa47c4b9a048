// Byte counts and times as the widget shows them to a Russian reader, in the
// manner of the platform's byte-count formatter:
//
// - memory style counts in binary units (1 КБ = 1024 байта), file style in
//   decimal units (1 КБ = 1000 байт);
// - the unit is the largest one in which the count is at least 1 (байт, КБ,
//   МБ, ГБ, ТБ, ПБ), so values below one kilobyte stay in bytes;
// - fraction digits adapt to the unit: none for байт and КБ, one for МБ, two
//   for ГБ and larger, rounded half away from zero, trailing zeros dropped; a
//   count that rounds up to the next unit is shown in that unit ("1 ГБ", not
//   "1024 МБ");
// - the decimal separator is a comma, the integer part is grouped by threes
//   with a no-break space, and a no-break space joins number and unit;
// - bytes take the Russian plural: 1 байт, 2 байта, 5 байт, 11 байт, 21 байт;
//   zero is "0 байт".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "core/records/json_codec.hpp"

namespace norvo::byte_count {

enum class Style { memory, file };

// Never throws; negative counts keep their sign.
std::string format(int64_t bytes, Style style);
std::string format(uint64_t bytes, Style style);

// "17:05": the 24-hour hours and minutes of `date` shifted by `utcOffset`, the
// short time style of a Russian locale.
std::string timeText(Date date, std::chrono::seconds utcOffset);

// The local time zone's offset at `date` (0 when the zone cannot be read).
std::chrono::seconds localUtcOffset(Date date);

}  // namespace norvo::byte_count
