#include "core/measure/system_metrics.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "core/assess/compact.hpp"
#include "core/measure/metric_history.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using platform::VmStatistics;
constexpr uint64_t GiB = 1ull << 30;

SystemReading reading(double time, uint64_t busy = 0, uint64_t total = 0) {
  return SystemReading{time, busy, total, 0};
}

TEST(SystemMetricsFormulas, IntervalAndUsage) {
  // At least a millisecond, so that rates stay finite.
  for (auto [from, to, seconds] : std::vector<std::tuple<double, double, double>>{
           {5, 5, 0.001}, {5, 3, 0.001}, {5, 7.5, 2.5}, {0, NAN, 0.001}})
    EXPECT_DOUBLE_EQ(SystemMetrics::sampleSecondsBetween(reading(from), reading(to)), seconds)
        << from << " " << to;
  // Busy and total ticks before, then after; the usage between.
  for (auto [busy0, total0, busy1, total1, usage] :
       std::vector<std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, double>>{
           {10, 100, 90, 100, 0.0},
           {10, 100, 35, 200, 0.25},
           {10, 100, 300, 200, 1.0},  // more busy than total (read apart): capped
           {UINT64_MAX - 9, UINT64_MAX - 19, 10, 80, 0.2}})  // wrapped around 2^64
    EXPECT_DOUBLE_EQ(
        SystemMetrics::usageBetween(reading(0, busy0, total0), reading(1, busy1, total1)), usage)
        << busy1 << "/" << total1;
}

TEST(SystemMetricsFormulas, MemoryBreakdown) {
  auto m = SystemMetrics::memoryBreakdown(16 * GiB, std::nullopt);
  EXPECT_EQ(std::tuple(m.usedBytes, m.availableBytes), std::tuple(0u, 16 * GiB));
  m = SystemMetrics::memoryBreakdown(16 * GiB,
                                     VmStatistics{6 * GiB, 1 * GiB, 3 * GiB, 2 * GiB, 1 * GiB});
  EXPECT_EQ(std::tuple(m.appBytes, m.cachedBytes, m.usedBytes, m.availableBytes),
            std::tuple(5 * GiB, 4 * GiB, 8 * GiB, 8 * GiB));
  // Purgeable beyond internal gives 0, not a wrapped value.
  EXPECT_EQ(
      SystemMetrics::memoryBreakdown(16 * GiB, VmStatistics{1 * GiB, 2 * GiB, 0, 0, 0}).appBytes,
      0u);
}

TEST(SystemMetricsFixtures, HybridLaptop) {
  auto roots = platform::Roots::under(test::fixture("linux/hybrid_laptop"));
  auto r = SystemReading::now(roots);
  EXPECT_EQ(r.busyTicks, 1000u + 200 + 300 + 10 + 20);  // steal (30) is in neither figure
  EXPECT_EQ(r.totalTicks, r.busyTicks + 5000 + 100);

  r.time = 1000;  // whole numbers, so that the rates below are exact
  SystemReading earlier{998, r.busyTicks - 75, r.totalTicks - 100, 4242 - 100};
  auto s = SystemMetrics::between(earlier, r, roots);
  // Usage, logical, performance (two hyper-threads of one core), efficiency
  // cores, load over 1 and 5 minutes, free cores.
  EXPECT_EQ(s.cpu, (SystemMetrics::CPU{0.75, 4, 1, 2, 2.5, 1.75, 1.0}));
  const uint64_t k = 1024, total = 16384000 * k, app = 9000000 * k,
                 cached = (1000000 + 1500000 + 200000) * k;
  const uint64_t wired = (20000 + 100000 + 20000 + 60000) * k,
                 compressed = 30000 * k + 12582912;  // zswap + zram
  const uint64_t used = app + wired + compressed;
  // Pressure from PSI "some avg10" 12.5; swap from meminfo and vmstat.
  EXPECT_EQ(s.memory,
            (SystemMetrics::Memory{total, used, app, wired, compressed, cached, total - used,
                                   "warning", 2048000 * k, 8192000 * k, 50}));
  EXPECT_EQ(s.thermalState, "fair");  // 85 °C past the 80 °C passive trip
  EXPECT_TRUE(s.lowPowerMode);
}

TEST(SystemMetricsFixtures, NoPsiBareAndMalformedTreesFallBack) {
  auto roots = platform::Roots::under(test::fixture("linux/no_psi"));
  auto r = SystemReading::now(roots);
  EXPECT_EQ(r.totalTicks, 0u);  // three columns are too few to trust
  auto s = SystemMetrics::between(r, r, roots);
  EXPECT_EQ(s.memory.pressure, "critical");            // 300000 of 8000000 kB available
  EXPECT_EQ(s.cpu.logicalCores, 1);                    // counted from /proc/stat
  EXPECT_EQ(s.memory.usedBytes, s.memory.totalBytes);  // anon beyond total is clamped
  EXPECT_EQ(s.thermalState, "unknown");

  for (const char* scenario : {"linux/bare_vm", "linux/malformed"}) {
    roots = platform::Roots::under(test::fixture(scenario));
    ASSERT_NO_THROW(r = SystemReading::now(roots));
    EXPECT_EQ(std::tuple(r.busyTicks, r.totalTicks, r.swapOuts), std::tuple(0ull, 0ull, 0ull))
        << scenario;
    s = SystemMetrics::between(r, r, roots);
    EXPECT_EQ(s.cpu, (SystemMetrics::CPU{0, 1, 1, 0, 0, 0, 1.0})) << scenario;
    EXPECT_EQ(std::tuple(s.memory.totalBytes, s.memory.pressure, s.thermalState, s.lowPowerMode),
              std::tuple(0u, "normal", "unknown", false))
        << scenario;
    // Without a mount table "/" alone is examined.
    ASSERT_EQ(s.volumes.size(), 1u) << scenario;
    EXPECT_EQ(s.volumes[0].path + s.volumes[0].name, "//") << scenario;
  }
}

// Pseudo, network, hidden and repeated mounts are left out before anything
// reads them; the volume listing's own tests cover that.
TEST(SystemMetricsFixtures, MountTableKeepsTheOverlayRootAndLeavesOutBoundFiles) {
  test::TempDir dir;
  auto data = dir.path() / "data";
  std::filesystem::create_directories(data);
  auto hosts = dir.write("hosts", "127.0.0.1 localhost\n");
  // The bound file on a device of its own, so that only its kind leaves it out.
  dir.write("proc/self/mountinfo",
            "1 0 0:30 / / rw - overlay overlay rw\n"
            "3 1 8:1 / " +
                data.string() +
                " rw - ext4 /dev/sda1 rw\n"
                "5 1 8:5 / " +
                hosts.string() + " rw - ext4 /dev/sda5 rw\n");
  auto s = SystemMetrics::between({}, {}, platform::Roots::under(dir.path()));
  std::vector<std::pair<std::string, std::string>> volumes;
  for (const auto& v : s.volumes) volumes.emplace_back(v.path, v.name);
  EXPECT_EQ(volumes, (std::vector<std::pair<std::string, std::string>>{{"/", "/"},
                                                                       {data.string(), "data"}}));
  EXPECT_GT(s.volumes[1].totalBytes, 0);
}

// A sample taken inside a container or a slice describes what the process may
// use, and says so; outside one it reads as it always did.
SystemReading quotaReading(double time, std::optional<double> quota,
                           std::optional<uint64_t> usage) {
  return {time, 0, 0, 0, quota, usage};
}

TEST(QuotaUsage, TimeSpentOverTimeGranted) {
  const std::tuple<const char*, SystemReading, SystemReading, std::optional<double>> cases[] = {
      {"half of 1.5 processors for 2 s", quotaReading(10, 1.5, 1000000),
       quotaReading(12, 1.5, 2500000), 0.5},
      {"throttling lets bursts overshoot a little", quotaReading(10, 0.5, 0),
       quotaReading(11, 0.5, 600000), 1.0},
      {"the quota changed", quotaReading(10, 1.5, 0), quotaReading(11, 2.0, 100), std::nullopt},
      {"no quota before", quotaReading(10, std::nullopt, std::nullopt), quotaReading(11, 1.0, 100),
       std::nullopt},
      {"counter went back: a new group", quotaReading(10, 1.0, 5000), quotaReading(11, 1.0, 10),
       std::nullopt},
      {"clock unreadable", quotaReading(10, 1.0, 0), quotaReading(NAN, 1.0, 10), std::nullopt},
  };
  for (const auto& [name, previous, current, usage] : cases)
    EXPECT_EQ(SystemMetrics::quotaUsageBetween(previous, current), usage) << name;
}

SystemMetrics sampleOf(const std::string& scenario) {
  auto roots = platform::Roots::under(test::fixture("linux/" + scenario));
  auto first = SystemReading::now(roots);
  return SystemMetrics::between(first, first, roots);
}

TEST(CgroupMetrics, LimitsAppearInTheDigestOnlyWhenTheyApply) {
  auto limited = sampleOf("cgroup_v1");
  auto free = sampleOf("cgroup_no_limit");
  // The container's 2 processors of quota and 1 GiB, not the host's 8 and 16 GiB.
  EXPECT_EQ(limited.cpu.logicalCores, 2);
  EXPECT_LE(limited.cpu.performanceCores, 2);
  EXPECT_EQ(limited.memory.totalBytes, GiB);
  auto digestOf = [](const SystemMetrics& m) {
    NorvoSnapshot snap;
    snap.metrics = m;
    return Compact::status(snap, 0, std::nullopt,
                           [](auto&&...) { return std::optional<Compact::FreeChange>{}; });
  };
  for (const char* part : {"cpu", "memory"}) {
    EXPECT_EQ(digestOf(limited)[part]["limited_by"], "cgroup") << part;
    EXPECT_FALSE(digestOf(free)[part].contains("limited_by")) << part;
  }
}

SystemMetrics at(int second, double usage = 0.5) {
  SystemMetrics m;
  m.timestamp = Date{} + std::chrono::seconds{1'000'000 + second};
  m.cpu.usage = usage;
  m.memory.usedBytes = m.memory.totalBytes = 0;  // a total of 0 counts as 1: no division by zero
  return m;
}

TEST(MetricHistory, DropsStaleAndOutOfOrderPointsAndKeepsTenMinutes) {
  MetricHistory h;
  EXPECT_EQ(h.span(), 0);
  h.add(at(0), 40.0, std::make_pair(1.0, 2.0));
  h.add(at(0, 0.9), std::nullopt, std::nullopt);  // same date: ignored
  h.add(at(-5), std::nullopt, std::nullopt);      // earlier: ignored
  EXPECT_EQ(h.points(),
            (std::vector<MetricHistory::Point>{{at(0).timestamp, 0.5, 0.0, 40.0, 1.0, 2.0}}));
  h.add(at(300), std::nullopt, std::nullopt);
  h.add(at(600), std::nullopt, std::nullopt);  // exactly the window: the first point stays
  EXPECT_EQ(h.points().size(), 3u);
  EXPECT_DOUBLE_EQ(h.span(), 600);
  h.add(at(601), std::nullopt, std::nullopt);
  ASSERT_EQ(h.points().size(), 3u);
  EXPECT_EQ(h.points().front().date, at(300).timestamp);
  EXPECT_EQ(h.points().back(), (MetricHistory::Point{at(601).timestamp, 0.5, 0.0, {}, 0, 0}));
}

}  // namespace
}  // namespace norvo
