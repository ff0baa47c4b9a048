#include "core/assess/health.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "assess/assess_fixtures.hpp"
#include "core/assess/long_cpu_watch.hpp"

namespace norvo {
namespace {

using test::GiB;
using test::idleMachine;
using test::withFreeBytes;
using D = std::vector<std::pair<int64_t, std::string>>;

struct In {
  SystemMetrics m = idleMachine();
  int64_t hung = 0;
  std::optional<SensorReport> sensors;
  std::optional<ZombieReport> zombies;
  std::vector<LongCPUProcess> longCPU;
  Health assess() const { return Health::assess(m, hung, sensors, zombies, longCPU); }
};

SensorReport sensors(std::optional<int64_t> batteryHealth, double uptimeDays) {
  SensorReport r;
  r.uptimeSeconds = uptimeDays * 86400;
  r.battery = SensorReport::Battery{};
  r.battery->healthPercent = batteryHealth;
  return r;
}

// Each row: a change to a perfect machine and the deductions it causes.
TEST(HealthAssess, EachRuleAtItsThresholds) {
  struct Row {
    const char* what;
    std::function<void(In&)> apply;
    D deductions;
  };
  // clang-format off
  const Row rows[] = {
      {"cpu beyond full is capped", [](In& i) { i.m.cpu.usage = 1.3; }, {{20, "CPU 130%"}}},
      {"cpu inf", [](In& i) { i.m.cpu.usage = HUGE_VAL; }, {}},
      {"queue 41 on 10 cores", [](In& i) { i.m.cpu.loadAverage1m = 41.7; }, {{10, "load average 41"}}},
      {"queue exactly 4 per core", [](In& i) { i.m.cpu.loadAverage1m = 40; }, {}},
      // Unlike the load judgement, a saturated CPU does not hide the queue.
      {"queue with saturated CPU", [](In& i) { i.m.cpu.usage = 1.0; i.m.cpu.loadAverage1m = 50; }, {{20, "CPU 100%"}, {10, "load average 50"}}},
      {"queue, unknown cores count as one", [](In& i) { i.m.cpu.logicalCores = 0; i.m.cpu.loadAverage1m = 4.5; }, {{10, "load average 4"}}},
      {"queue nan", [](In& i) { i.m.cpu.loadAverage1m = std::nan(""); }, {}},
      {"memory critical", [](In& i) { i.m.memory.pressure = "critical"; i.m.memory.usedBytes = i.m.memory.totalBytes; }, {{30, "memory pressure critical"}}},
      {"memory used share", [](In& i) { i.m.memory.usedBytes = uint64_t(28.3 * GiB); }, {{5, "memory 88% used"}}},
      {"memory exactly 85%", [](In& i) { i.m.memory.totalBytes = 20 * GiB; i.m.memory.usedBytes = 17 * GiB; }, {}},
      {"memory no total", [](In& i) { i.m.memory.totalBytes = 0; i.m.memory.usedBytes = 0; }, {}},
      {"swap 600", [](In& i) { i.m.memory.swapOutsPerSecond = 600; }, {{10, "swapping heavily"}}},
      {"swap exactly 500", [](In& i) { i.m.memory.swapOutsPerSecond = 500; }, {{5, "swapping"}}},
      {"swap exactly 50", [](In& i) { i.m.memory.swapOutsPerSecond = 50; }, {}},
      {"disk exactly 5 GB", [](In& i) { i.m = withFreeBytes(i.m, 5.0 * GiB); }, {{20, "disk low"}}},
      {"disk exactly 15 GB", [](In& i) { i.m = withFreeBytes(i.m, 15.0 * GiB); }, {{10, "disk 15 GB free"}}},
      {"disk exactly 30 GB", [](In& i) { i.m = withFreeBytes(i.m, 30.0 * GiB); }, {}},
      {"no volume", [](In& i) { i.m.volumes.clear(); }, {{30, "disk almost full"}}},
      {"thermal critical", [](In& i) { i.m.thermalState = "critical"; }, {{25, "overheating"}}},
      {"thermal fair", [](In& i) { i.m.thermalState = "fair"; }, {{5, "warm"}}},
      {"1 hung", [](In& i) { i.hung = 1; }, {{5, "1 hung processes"}}},
      {"most hung, capped", [](In& i) { i.hung = INT64_MAX; }, {{15, std::to_string(INT64_MAX) + " hung processes"}}},
      {"negative hung", [](In& i) { i.hung = -1; }, {}},
      {"1 long", [](In& i) { i.longCPU.resize(1); }, {{5, "processes busy for minutes: 1"}}},
      {"4 long", [](In& i) { i.longCPU.resize(4); }, {{10, "processes busy for minutes: 4"}}},
      {"19 zombies", [](In& i) { i.zombies = ZombieReport{19, {}}; }, {}},
      {"20 zombies", [](In& i) { i.zombies = ZombieReport{20, {}}; }, {{5, "20 zombie processes"}}},
      {"battery 80", [](In& i) { i.sensors = sensors(80, 0); }, {}},
      {"exactly 14 days up", [](In& i) { i.sensors = sensors(100, 14); }, {}},
      {"uptime nan", [](In& i) { i.sensors = sensors(100, std::nan("")); }, {}},
      {"no battery", [](In& i) { i.sensors = sensors(50, 0); i.sensors->battery.reset(); }, {}},
      {"battery 79 then 15.5 days up", [](In& i) { i.sensors = sensors(79, 15.5); }, {{5, "battery health 79%"}, {3, "up 15 days, a restart helps"}}},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    In in;
    row.apply(in);
    auto h = in.assess();
    D got;
    for (const auto& d : h.deductions) got.emplace_back(d.points, d.reason);
    EXPECT_EQ(got, row.deductions);
    int64_t sum = 0;
    for (const auto& d : row.deductions) sum += d.first;
    EXPECT_EQ(h.score, 100 - sum);
  }
}

// The order of the deductions is for reading only; the score is what counts.
TEST(HealthAssess, NeverBelowZero) {
  In in;  // 30 + 25 + 30 + 20 points
  in.m.memory.pressure = "critical";
  in.m.thermalState = "critical";
  in.m.volumes.clear();
  in.m.cpu.usage = 1;
  EXPECT_EQ(in.assess().score, 0);
}

// Long-running CPU use, which the health score counts and the digest lists.
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
  EXPECT_EQ(found, (std::vector<LongCPUProcess>{{42, "worker42", ProcessCategory::aiTask,
                                                 std::nullopt, std::nullopt, false, 80.0, 5}}));
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
  // (11 × 90 + 10 × 81) / 21, to one decimal.
  EXPECT_EQ(found, (std::vector<LongCPUProcess>{{42, "worker42", ProcessCategory::aiTask,
                                                 std::nullopt, std::nullopt, false, 85.7, 5}}));

  // Still reported exactly 15 s after the last busy sample, gone just after.
  EXPECT_EQ(watch.update(one("42:1", 10), at(315)).size(), 1u);
  EXPECT_TRUE(watch.update(one("42:1", 10), at(315.5)).empty());
  EXPECT_TRUE(watch.tracks.empty());
}

}  // namespace
}  // namespace norvo
