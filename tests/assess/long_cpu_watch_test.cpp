#include "core/assess/long_cpu_watch.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using Tick = std::vector<std::pair<std::string, ProcessSample>>;

Date at(double seconds) {
  return std::chrono::system_clock::from_time_t(1'800'000'000) +
         std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
}

ProcessSample busy(int32_t pid, double cpu) {
  return test::sample(pid, "worker" + std::to_string(pid), ProcessCategory::aiTask, std::nullopt,
                      false, cpu);
}

Tick one(const std::string& key, double cpu) { return {{key, busy(42, cpu)}}; }

TEST(LongCPUWatch, EightyPercentForFiveMinutesOfOneProcessInstance) {
  LongCPUWatch watch;
  auto tick = [](double cpu) {
    return Tick{{"42:1", busy(42, cpu)},
                {"43:1", busy(43, 79.9)},
                {"44:1", busy(44, HUGE_VAL)},
                {"45:1", busy(45, std::nan(""))}};
  };
  for (int t = 0; t < 300; t += 5) EXPECT_TRUE(watch.update(tick(80), at(t)).empty()) << t;
  auto found = watch.update(tick(80), at(300));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].pid, 42);
  EXPECT_DOUBLE_EQ(found[0].averageCPU, 80.0);
  EXPECT_EQ(found[0].minutes, 5);
  // Below 80% and non-finite readings never start a track.
  EXPECT_EQ(watch.tracks.size(), 1u);
  // The same pid under another key is another process, and a key missing
  // from a tick is forgotten.
  EXPECT_TRUE(watch.update(one("42:2", 90), at(305)).empty());
  ASSERT_EQ(watch.tracks.size(), 1u);
  EXPECT_EQ(watch.tracks.begin()->first, "42:2");
}

TEST(LongCPUWatch, BusyPeriodEndsFifteenSecondsAfterItsLastBusySample) {
  LongCPUWatch watch;
  // Busy every 15 s, alternating 90 and 81, with a quiet sample in between
  // that must not count towards the average.
  std::vector<LongCPUProcess> found;
  for (int i = 0; i <= 20; ++i) {
    found = watch.update(one("42:1", i % 2 == 0 ? 90 : 81), at(15.0 * i));
    if (i < 20) watch.update(one("42:1", 10), at(15.0 * i + 7));
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].minutes, 5);
  EXPECT_DOUBLE_EQ(found[0].averageCPU, 85.7);  // (11 × 90 + 10 × 81) / 21, one decimal

  // Still reported exactly 15 s after the last busy sample, gone just after.
  EXPECT_EQ(watch.update(one("42:1", 10), at(315)).size(), 1u);
  EXPECT_TRUE(watch.update(one("42:1", 10), at(315.5)).empty());
  EXPECT_TRUE(watch.tracks.empty());

  // A new busy period starts from zero.
  for (int t = 320; t < 620; t += 5) EXPECT_TRUE(watch.update(one("42:1", 95), at(t)).empty());
  EXPECT_EQ(watch.update(one("42:1", 95), at(620)).size(), 1u);
}

TEST(LongCPUWatch, ReportCopiesTheSampleLongestFirstTiesInInputOrder) {
  LongCPUWatch watch;
  auto early = busy(7, 99.96);
  early.appName = "Xcode";
  early.category = ProcessCategory::userApp;
  auto late = busy(8, 85);
  late.agentPid = 4242;
  late.orphaned = true;
  std::vector<LongCPUProcess> found;
  for (int t = 0; t <= 500; t += 5) {
    // `late` and its twin are listed first but have been busy for less time.
    Tick tick;
    if (t >= 100) tick = {{"8:1", late}, {"9:1", busy(9, 90)}};
    tick.push_back({"7:1", early});
    found = watch.update(tick, at(t));
  }
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], (LongCPUProcess{7, "worker7", ProcessCategory::userApp, "Xcode", std::nullopt,
                                      false, 100.0, 8}));
  EXPECT_EQ(found[1], (LongCPUProcess{8, "worker8", ProcessCategory::aiTask, std::nullopt, 4242,
                                      true, 85.0, 6}));
  EXPECT_EQ(found[2].pid, 9);
}

}  // namespace
}  // namespace norvo
