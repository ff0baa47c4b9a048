#include "core/records/json_codec.hpp"

#include <charconv>
#include <cstdio>

namespace norvo {

using namespace std::chrono;

std::string formatIso8601(Date date) {
  auto secs = floor<seconds>(date);
  auto days = floor<std::chrono::days>(secs);
  year_month_day ymd{days};
  hh_mm_ss<seconds> tod{secs - days};
  int y = static_cast<int>(ymd.year());
  if (y < 0) y = 0;
  if (y > 9999) y = 9999;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", y,
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(tod.hours().count()), static_cast<long>(tod.minutes().count()),
                static_cast<long>(tod.seconds().count()));
  return buf;
}

namespace {

bool digits(std::string_view text, size_t pos, size_t count, int& out) {
  if (pos + count > text.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::optional<Date> parseIso8601(std::string_view text) {
  int y, mo, d, h, mi, s;
  if (!digits(text, 0, 4, y) || text.size() < 19 || text[4] != '-' || !digits(text, 5, 2, mo) ||
      text[7] != '-' || !digits(text, 8, 2, d) || (text[10] != 'T' && text[10] != 't') ||
      !digits(text, 11, 2, h) || text[13] != ':' || !digits(text, 14, 2, mi) || text[16] != ':' ||
      !digits(text, 17, 2, s))
    return std::nullopt;
  if (h > 23 || mi > 59 || s > 60) return std::nullopt;
  year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return std::nullopt;

  size_t pos = 19;
  nanoseconds fraction{0};
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    long long value = 0;
    int count = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (count < 9) {
        value = value * 10 + (text[pos] - '0');
        ++count;
      }
      ++pos;
    }
    if (count == 0) return std::nullopt;
    for (int i = count; i < 9; ++i) value *= 10;
    fraction = nanoseconds{value};
  }
  seconds offset{0};
  if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    int oh, om;
    if (!digits(text, pos + 1, 2, oh) || pos + 3 >= text.size() || text[pos + 3] != ':' ||
        !digits(text, pos + 4, 2, om))
      return std::nullopt;
    offset = hours{oh} + minutes{om};
    if (text[pos] == '-') offset = -offset;
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;

  auto tp = sys_days{ymd} + hours{h} + minutes{mi} + seconds{s} - offset;
  return time_point_cast<system_clock::duration>(tp + fraction);
}

namespace json_codec {

std::string encode(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<nlohmann::json> decode(std::string_view text) {
  auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

}  // namespace json_codec
}  // namespace norvo
