// Byte counts and times as the widget shows them, in the owner's language:
//
// - one unit system for memory and disks alike, binary units labelled as
//   such (1 КиБ = 1 KiB = 1024 bytes), so that the two can be compared in one
//   picture and the agents' digest (GB = 2^30 bytes) says the same figures;
// - the unit is the largest one in which the count is at least 1 (bytes, KiB,
//   MiB, GiB, TiB, PiB), so values below one kibibyte stay in bytes;
// - fraction digits adapt to the unit: none for bytes and KiB, one for MiB,
//   two for GiB and larger, rounded half away from zero, trailing zeros
//   dropped; a count that rounds up to the next unit is shown in that unit
//   ("1 ГиБ", not "1024 МиБ");
// - a no-break space joins number and unit. Russian: decimal comma, thousands
//   grouped with a no-break space, and the plural of "байт" (1 байт, 2 байта,
//   5 байт, 11 байт, 21 байт). English: decimal point, thousands grouped with
//   a comma, "1 byte", "2 bytes".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "core/platform/owner_language.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::byte_count {

// Never throws; negative counts keep their sign.
std::string format(int64_t bytes, platform::Language language = platform::Language::russian);
std::string format(uint64_t bytes, platform::Language language = platform::Language::russian);

// "17:05": the 24-hour hours and minutes of `date` shifted by `utcOffset`.
std::string timeText(Date date, std::chrono::seconds utcOffset);

// The local time zone's offset at `date` (0 when the zone cannot be read).
std::chrono::seconds localUtcOffset(Date date);

}  // namespace norvo::byte_count
