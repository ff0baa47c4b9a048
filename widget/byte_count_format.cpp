#include "widget/byte_count_format.hpp"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <ctime>

namespace norvo::byte_count {

namespace {

constexpr const char* kNoBreakSpace = "\u00a0";

using platform::Language;

// The plural of the byte for a whole count.
const char* bytesWord(uint64_t n, Language language) {
  if (language == Language::english) return n == 1 ? "byte" : "bytes";
  uint64_t lastTwo = n % 100, last = n % 10;
  if (lastTwo >= 11 && lastTwo <= 14) return "байт";
  if (last >= 2 && last <= 4) return "байта";
  return "байт";
}

std::string grouped(uint64_t n, Language language) {
  const char* separator = language == Language::english ? "," : kNoBreakSpace;
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

std::string formatMagnitude(uint64_t bytes, Language language) {
  const double base = 1024.0;
  static constexpr std::array<const char*, 5> russianUnits = {"КиБ", "МиБ", "ГиБ", "ТиБ", "ПиБ"};
  static constexpr std::array<const char*, 5> englishUnits = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  const auto& units = language == Language::english ? englishUnits : russianUnits;
  if (static_cast<double>(bytes) < base)
    return grouped(bytes, language) + kNoBreakSpace + bytesWord(bytes, language);

  double value = static_cast<double>(bytes) / base;
  size_t unit = 0;
  while (value >= base && unit + 1 < units.size()) {
    value /= base;
    ++unit;
  }
  auto digitsFor = [](size_t u) { return u == 0 ? 0 : (u == 1 ? 1 : 2); };
  auto roundTo = [](double v, int digits) {
    double scale = std::pow(10.0, digits);
    return std::round(v * scale) / scale;  // std::round: half away from zero
  };
  double rounded = roundTo(value, digitsFor(unit));
  if (rounded >= base && unit + 1 < units.size()) {
    ++unit;
    rounded = roundTo(value / base, digitsFor(unit));
  }

  int digits = digitsFor(unit);
  double scale = std::pow(10.0, digits);
  auto scaled = static_cast<uint64_t>(std::llround(rounded * scale));
  auto whole = scaled / static_cast<uint64_t>(scale);
  auto fraction = scaled % static_cast<uint64_t>(scale);
  std::string text = grouped(whole, language);
  if (fraction != 0) {
    std::string f = fmt::format("{:0{}}", fraction, digits);
    while (!f.empty() && f.back() == '0') f.pop_back();
    text += (language == Language::english ? "." : ",") + f;
  }
  return text + kNoBreakSpace + units[unit];
}

}  // namespace

std::string format(uint64_t bytes, Language language) { return formatMagnitude(bytes, language); }

std::string format(int64_t bytes, Language language) {
  if (bytes >= 0) return formatMagnitude(static_cast<uint64_t>(bytes), language);
  // Negate in unsigned arithmetic so INT64_MIN does not overflow.
  return "-" + formatMagnitude(0 - static_cast<uint64_t>(bytes), language);
}

std::string timeText(Date date, std::chrono::seconds utcOffset) {
  using namespace std::chrono;
  auto local = floor<seconds>(date) + utcOffset;
  auto day = floor<days>(local);
  hh_mm_ss<seconds> hms(local - day);
  return fmt::format("{:02}:{:02}", hms.hours().count(), hms.minutes().count());
}

std::chrono::seconds localUtcOffset(Date date) {
  std::time_t t = std::chrono::system_clock::to_time_t(date);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return std::chrono::seconds{0};
  return std::chrono::seconds{tm.tm_gmtoff};
}

}  // namespace norvo::byte_count
