#include "core/assess/long_cpu_watch.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace norvo {
namespace {

using Tick = std::vector<std::pair<std::string, ProcessSample>>;

const Date start = std::chrono::system_clock::from_time_t(1'800'000'000);

Date at(double seconds) {
  return start + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
}

ProcessSample sample(int32_t pid, double cpu) {
  ProcessSample s;
  s.pid = pid;
  s.ppid = 1;
  s.name = "worker" + std::to_string(pid);
  s.cpuPercent = cpu;
  s.category = ProcessCategory::aiTask;
  return s;
}

Tick one(const std::string& key, double cpu, int32_t pid = 42) { return {{key, sample(pid, cpu)}}; }

TEST(LongCPUWatchUpdate, SteadyEightyPercentIsReportedAfterFiveMinutes) {
  LongCPUWatch watch;
  for (int t = 0; t < 300; t += 5) {
    SCOPED_TRACE(t);
    EXPECT_TRUE(watch.update(one("42:1", 80), at(t)).empty());
  }
  auto found = watch.update(one("42:1", 80), at(300));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].pid, 42);
  EXPECT_DOUBLE_EQ(found[0].averageCPU, 80.0);
  EXPECT_EQ(found[0].minutes, 5);
}

TEST(LongCPUWatchUpdate, BelowEightyNeverStartsATrack) {
  LongCPUWatch watch;
  for (int t = 0; t <= 600; t += 5) EXPECT_TRUE(watch.update(one("42:1", 79.9), at(t)).empty());
  EXPECT_TRUE(watch.tracks.empty());
}

TEST(LongCPUWatchUpdate, GracePeriodAfterTheLastBusySample) {
  LongCPUWatch watch;
  for (int t = 0; t <= 360; t += 5) watch.update(one("42:1", 95), at(t));
  auto found = watch.update(one("42:1", 95), at(360));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].minutes, 6);

  // Quiet samples keep it reported for up to 15 seconds after the last busy one.
  for (int t : {365, 370, 375}) {
    SCOPED_TRACE(t);
    found = watch.update(one("42:1", 10), at(t));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_DOUBLE_EQ(found[0].averageCPU, 95.0);
  }
  EXPECT_TRUE(watch.update(one("42:1", 10), at(375.5)).empty());
  EXPECT_TRUE(watch.tracks.empty());

  // A new busy period starts from zero.
  watch.update(one("42:1", 95), at(380));
  for (int t = 385; t < 680; t += 5) EXPECT_TRUE(watch.update(one("42:1", 95), at(t)).empty());
  found = watch.update(one("42:1", 95), at(680));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].minutes, 5);
}

TEST(LongCPUWatchUpdate, BusySamplesFifteenSecondsApartKeepTheTrack) {
  LongCPUWatch watch;
  // Busy every 15 s, alternating 90 and 81, with a quiet sample in between
  // that must not count towards the average.
  std::vector<LongCPUProcess> found;
  for (int i = 0; i <= 20; ++i) {
    const double t = 15.0 * i;
    found = watch.update(one("42:1", i % 2 == 0 ? 90 : 81), at(t));
    if (i < 20) watch.update(one("42:1", 10), at(t + 7));
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].minutes, 5);
  // (11 × 90 + 10 × 81) / 21 = 85.714…
  EXPECT_DOUBLE_EQ(found[0].averageCPU, 85.7);

  // A gap just over 15 s ends it.
  LongCPUWatch gap;
  gap.update(one("42:1", 90), at(0));
  EXPECT_EQ(gap.tracks.size(), 1u);
  gap.update(one("42:1", 10), at(15.5));
  EXPECT_TRUE(gap.tracks.empty());
}

TEST(LongCPUWatchUpdate, ProcessesMissingFromATickAreForgotten) {
  LongCPUWatch watch;
  for (int t = 0; t <= 300; t += 5) watch.update(one("42:1", 90), at(t));
  EXPECT_EQ(watch.update(one("42:1", 90), at(305)).size(), 1u);
  watch.update({}, at(310));
  EXPECT_TRUE(watch.tracks.empty());
  EXPECT_TRUE(watch.update(one("42:1", 90), at(315)).empty());

  // The same pid under another key is another process.
  LongCPUWatch reused;
  for (int t = 0; t <= 300; t += 5) reused.update(one("42:1", 90), at(t));
  EXPECT_TRUE(reused.update(one("42:999", 90), at(305)).empty());
}

TEST(LongCPUWatchUpdate, ReportCopiesTheSampleAndSortsByMinutes) {
  LongCPUWatch watch;
  auto early = sample(7, 99.96);
  early.appName = "Xcode";
  early.category = ProcessCategory::userApp;
  auto late = sample(8, 85);
  late.agentPid = 4242;
  late.orphaned = true;
  // `late` is listed first but has been busy for less time.
  for (int t = 0; t <= 500; t += 5) {
    Tick tick;
    if (t >= 100) tick.push_back({"8:1", late});
    tick.push_back({"7:1", early});
    auto found = watch.update(tick, at(t));
    if (t != 500) continue;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].pid, 7);
    EXPECT_EQ(found[0].name, "worker7");
    EXPECT_EQ(found[0].category, ProcessCategory::userApp);
    EXPECT_EQ(found[0].appName, std::optional<std::string>("Xcode"));
    EXPECT_FALSE(found[0].orphaned);
    EXPECT_DOUBLE_EQ(found[0].averageCPU, 100.0);  // one decimal, rounded
    EXPECT_EQ(found[0].minutes, 8);
    EXPECT_EQ(found[1].pid, 8);
    EXPECT_EQ(found[1].agentPid, std::optional<int32_t>(4242));
    EXPECT_TRUE(found[1].orphaned);
    EXPECT_EQ(found[1].minutes, 6);
  }
}

TEST(LongCPUWatchUpdate, EqualMinutesKeepInputOrder) {
  LongCPUWatch watch;
  std::vector<LongCPUProcess> found;
  for (int t = 0; t <= 300; t += 5) {
    Tick tick = {{"3:1", sample(3, 90)}, {"1:1", sample(1, 90)}, {"2:1", sample(2, 90)}};
    found = watch.update(tick, at(t));
  }
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].pid, 3);
  EXPECT_EQ(found[1].pid, 1);
  EXPECT_EQ(found[2].pid, 2);
}

TEST(LongCPUWatchUpdate, NonFiniteCpuIsNotBusy) {
  LongCPUWatch watch;
  watch.update(one("42:1", HUGE_VAL), at(0));
  watch.update(one("43:1", std::nan(""), 43), at(0));
  EXPECT_TRUE(watch.tracks.empty());
}

}  // namespace
}  // namespace norvo
