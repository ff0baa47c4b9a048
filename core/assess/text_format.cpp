#include "core/assess/text_format.hpp"

#include <cmath>
#include <cstdio>
#include <limits>

namespace norvo::text_format {

namespace {

// Doubles at or beyond 2^63 do not fit; converting them is undefined.
int64_t clampToInt64(double whole) {
  constexpr double limit = 9223372036854775808.0;  // 2^63
  if (whole >= limit) return std::numeric_limits<int64_t>::max();
  if (whole < -limit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(whole);
}

}  // namespace

double finiteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

int64_t truncated(double value) { return clampToInt64(std::trunc(finiteOrZero(value))); }

int64_t rounded(double value) { return clampToInt64(std::round(finiteOrZero(value))); }

std::string percent(double fraction) {
  return std::to_string(rounded(finiteOrZero(fraction) * 100.0)) + "%";
}

std::string oneDecimal(double value) {
  // The largest double needs 309 digits before the point.
  char buffer[400];
  int n = std::snprintf(buffer, sizeof buffer, "%.1f", finiteOrZero(value));
  if (n < 0) return "0.0";
  return std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

double freeGigabytes(const SystemMetrics& metrics) {
  auto boot = metrics.bootVolume();
  if (!boot || boot->freeBytes <= 0) return 0.0;
  return static_cast<double>(boot->freeBytes) / 1073741824.0;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
      out += '?';  // U+0080 to U+009F
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace norvo::text_format
