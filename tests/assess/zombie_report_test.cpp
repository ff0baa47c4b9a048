#include <gtest/gtest.h>

#include "core/assess/health.hpp"

namespace norvo {
namespace {

using Entry = ZombieReport::Entry;
using Parent = ZombieReport::Parent;

TEST(ZombieReportTally, ParentsByCountAtMostThree) {
  std::vector<Entry> processes = {
      {10, 1, "a", false}, {11, 10, "z", true}, {12, 20, "z", true}, {13, 30, "z", true},
      {14, 30, "z", true}, {15, 40, "z", true}, {16, 50, "z", true}, {20, 1, "b", false},
      {30, 1, "c", false}, {17, 10, "z", true}, {18, 30, "z", true},
  };
  auto report = ZombieReport::tally(processes);
  EXPECT_EQ(report.count, 8);  // zombies of unlisted parents count too
  EXPECT_EQ(report.parents, (std::vector<Parent>{{30, "c", 3}, {10, "a", 2}, {20, "b", 1}}));
  // Ties keep list order; an unlisted parent is "?".
  report = ZombieReport::tally({{5, 99, "z", true}, {6, 98, "z", true}, {98, 1, "p", false}});
  EXPECT_EQ(report.parents, (std::vector<Parent>{{99, "?", 1}, {98, "p", 1}}));
  EXPECT_EQ(ZombieReport::tally({}), ZombieReport{});
}

}  // namespace
}  // namespace norvo
