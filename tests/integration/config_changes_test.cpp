// The pieces of text handling that decide what the owner reads about the
// Claude Code program: its path from a login shell, its output as one line.
#include "core/integration/config_changes.hpp"

#include <gtest/gtest.h>

namespace norvo::Integration {
namespace {

TEST(ConfigChanges, DecodesInvalidUtf8AsReplacementCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"Привет ✓ 𝄞", "Привет ✓ 𝄞"},
      {"\xff"
       "a",
       "\uFFFD"
       "a"},
      {"\xc0\xaf", "\uFFFD\uFFFD"},                      // overlong "/"
      {"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"ok\xe2\x9c", "ok\uFFFD\uFFFD"},                  // cut short
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(decodeUtf8(in), out) << in;
}

TEST(ConfigChanges, OutputBecomesOneBoundedLine) {
  EXPECT_EQ(oneLine("  first\r\n\n second  \n"), "first; second");
  EXPECT_EQ(oneLine(""), "");
  // Cut at a character boundary, never inside one.
  auto cut = oneLine(std::string(9, 'a') + "ж", 10);
  EXPECT_EQ(cut, std::string(9, 'a') + "…");
}

TEST(ConfigChanges, NestingIsMeasuredOutsideStrings) {
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"[[[[[[","b":[{}]})", 3));
  EXPECT_TRUE(nestsDeeperThan(R"({"a":[[[1]]]})", 3));
  EXPECT_FALSE(nestsDeeperThan(R"({"a\"[[[[":[[1]]})", 3));
}

}  // namespace
}  // namespace norvo::Integration
