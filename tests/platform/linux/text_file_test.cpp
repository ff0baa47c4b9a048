#include "core/platform/linux/text_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norvo::platform::text_file {
namespace {

std::vector<std::string> collect(std::string_view text) {
  std::vector<std::string> out;
  for (std::string_view line : lines(text)) out.emplace_back(line);
  return out;
}

TEST(TextFileLines, KeepBlankLinesAndAnUnfinishedLastOne) {
  using V = std::vector<std::string>;
  EXPECT_EQ(collect(""), V{});
  EXPECT_EQ(collect("\n"), V{""});
  EXPECT_EQ(collect("a\n\nb\n"), (V{"a", "", "b"}));
  EXPECT_EQ(collect("a\nlast"), (V{"a", "last"}));
}

TEST(TextFileFields, RunsOfSpacesAndTabsSeparate) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(fields("  cpu\t 1  2\t"), (V{"cpu", "1", "2"}));
  EXPECT_EQ(fields(" \t "), V{});
}

}  // namespace
}  // namespace norvo::platform::text_file
