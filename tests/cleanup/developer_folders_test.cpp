// The developer folders measured for agents.
#include "core/cleanup/developer_folders.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

TEST(DiskReport, MeasuresTheFoldersThatExistLargestFirst) {
  test::TempDir dir;
  auto home = dir.path().string();
  auto places = DiskUsage::Places::standard(home);
  dir.write(".npm/_cacache/index", std::string(50000, 'n'));
  dir.write(".cache/pip/wheel", std::string(9000, 'p'));
  dir.write(".local/share/Trash/files/old", "t");
  auto entries = DiskReport::measure(30, places);
  std::vector<std::string> paths;
  for (const auto& e : entries) paths.push_back(e.path);
  // ~/.cache holds pip, so it is at least as large and comes first of the two;
  // DerivedData and the other missing folders are not listed at all.
  EXPECT_EQ(paths, (std::vector<std::string>{home + "/.npm/_cacache", home + "/.cache",
                                             home + "/.cache/pip", home + "/.local/share/Trash"}));
  ASSERT_TRUE(entries[0].bytes);
  EXPECT_GE(*entries[0].bytes, 50000);

  for (const auto& e : DiskReport::measure(0, places)) EXPECT_FALSE(e.bytes) << e.path;
}

}  // namespace
}  // namespace norvo
