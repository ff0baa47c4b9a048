#include "core/platform/linux/text_file.hpp"

#include <gtest/gtest.h>

namespace norvo::platform::text_file {
namespace {

// Every /proc parser walks its file with these two.
TEST(TextFile, LinesKeepBlanksAndAnUnfinishedLastOneFieldsSplitOnRuns) {
  auto collect = [](std::string_view text) {
    std::vector<std::string> out;
    for (std::string_view line : lines(text)) out.emplace_back(line);
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(collect(""), V{});
  EXPECT_EQ(collect("\n"), V{""});
  EXPECT_EQ(collect("a\n\nb\nlast"), (V{"a", "", "b", "last"}));
  EXPECT_EQ(fields("  cpu\t 1  2\t"), (std::vector<std::string_view>{"cpu", "1", "2"}));
  EXPECT_TRUE(fields(" \t ").empty());
}

}  // namespace
}  // namespace norvo::platform::text_file
