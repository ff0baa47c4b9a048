#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/assess/health.hpp"
#include "test_support.hpp"

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

TEST(ZombieReportRead, FromProcessStates) {
  auto source =
      platform::makeProcessSource(platform::Roots::under(test::fixture("linux/zombie_parents")));
  auto report = ZombieReport::read(*source);
  EXPECT_EQ(report.count, 6);
  EXPECT_EQ(report.parents,
            (std::vector<Parent>{{300, "make -j", 3}, {404, "?", 1}, {999, "?", 1}}));
}

TEST(ZombieReportRead, SeesAnUnreapedChildOfThisProcess) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  struct Reap {
    pid_t pid;
    ~Reap() { ::waitpid(pid, nullptr, 0); }
  } reap{child};
  int64_t mine = 0;
  for (int i = 0; i < 200 && mine == 0; ++i) {
    for (const auto& p : ZombieReport::read().parents)
      if (p.pid == ::getpid()) mine = p.count;
    if (mine == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(mine, 1);
}

}  // namespace
}  // namespace norvo
