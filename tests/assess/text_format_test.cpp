#include "core/assess/text_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace norvo {
namespace {

using namespace text_format;

TEST(TextFormat, PercentAndOneDecimalRoundAndHideNonFinite) {
  const std::pair<double, const char*> percents[] = {
      {0.874, "87%"},   {0.875, "88%"},       {0.0, "0%"},      {1.3, "130%"},
      {-0.125, "-13%"}, {std::nan(""), "0%"}, {HUGE_VAL, "0%"}, {0.004999, "0%"},
  };
  for (const auto& [fraction, text] : percents) EXPECT_EQ(percent(fraction), text) << fraction;
  EXPECT_EQ(oneDecimal(std::nan("")), "0.0");
  EXPECT_EQ(oneDecimal(-HUGE_VAL), "0.0");
  // The largest finite double has 309 digits before the point; none are lost.
  EXPECT_EQ(oneDecimal(std::numeric_limits<double>::max()).size(), 309u + 2u);
}

TEST(TextFormat, WholeNumbersAreClampedToInt64) {
  constexpr auto top = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(truncated(-41.99), -41);
  EXPECT_EQ(truncated(std::nan("")), 0);
  EXPECT_EQ(truncated(-1e300), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(truncated(9223372036854775808.0), top);  // 2^63 does not fit
  EXPECT_EQ(rounded(-2.5), -3);
  EXPECT_EQ(rounded(1e19), top);
  EXPECT_EQ(rounded(std::nan("")), 0);
}

TEST(TextFormat, PrintableReplacesControlCharactersOnly) {
  using namespace std::string_literals;
  // An escape sequence setting the terminal title, a C1 CSI, DEL and NUL.
  EXPECT_EQ(printable("a\x1b]0;owned\x07"
                      "b\xC2\x9B"
                      "31m\x7F\0z"s),
            "a?]0;owned?b?31m??z");
  EXPECT_EQ(printable("Редактор – café ✓"), "Редактор – café ✓");
}

}  // namespace
}  // namespace norvo
