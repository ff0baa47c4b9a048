#include "core/measure/system_metrics.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"

namespace norvo {
namespace {

using platform::VmStatistics;
constexpr uint64_t GiB = 1ull << 30;

SystemReading reading(double time, uint64_t busy = 0, uint64_t total = 0) {
  return SystemReading{time, busy, total, 0};
}

TEST(SystemMetricsFormulas, IntervalUsageAndPressure) {
  // At least a millisecond, so that rates stay finite.
  for (auto [from, to, seconds] : std::vector<std::tuple<double, double, double>>{
           {5, 5, 0.001}, {5, 3, 0.001}, {5, 7.5, 2.5}, {0, NAN, 0.001}})
    EXPECT_DOUBLE_EQ(SystemMetrics::sampleSecondsBetween(reading(from), reading(to)), seconds)
        << from << " " << to;
  struct Case {
    uint64_t busy0, total0, busy1, total1;
    double usage;
  };
  for (const auto& c :
       std::vector<Case>{{10, 100, 90, 100, 0.0},
                         {10, 100, 35, 200, 0.25},
                         {10, 100, 300, 200, 1.0},  // more busy than total (read apart): capped
                         {UINT64_MAX - 9, UINT64_MAX - 19, 10, 80, 0.2}})  // wrapped around 2^64
    EXPECT_DOUBLE_EQ(
        SystemMetrics::usageBetween(reading(0, c.busy0, c.total0), reading(1, c.busy1, c.total1)),
        c.usage)
        << c.busy1 << "/" << c.total1;
  for (auto [level, text] :
       std::vector<std::pair<std::optional<int>, std::string>>{{1, "normal"},
                                                               {2, "warning"},
                                                               {4, "critical"},
                                                               {3, "normal"},
                                                               {-1, "normal"},
                                                               {std::nullopt, "normal"}})
    EXPECT_EQ(SystemMetrics::pressureText(level), text) << level.value_or(99);
}

TEST(SystemMetricsFormulas, MemoryBreakdown) {
  auto none = SystemMetrics::memoryBreakdown(16 * GiB, std::nullopt);
  EXPECT_EQ(none.usedBytes, 0u);
  EXPECT_EQ(none.availableBytes, 16 * GiB);
  auto m = SystemMetrics::memoryBreakdown(
      16 * GiB, VmStatistics{6 * GiB, 1 * GiB, 3 * GiB, 2 * GiB, 1 * GiB});
  EXPECT_EQ(m.appBytes, 5 * GiB);
  EXPECT_EQ(m.cachedBytes, 4 * GiB);
  EXPECT_EQ(m.usedBytes, 8 * GiB);
  EXPECT_EQ(m.availableBytes, 8 * GiB);
  // Purgeable beyond internal gives 0, not a wrapped value.
  EXPECT_EQ(
      SystemMetrics::memoryBreakdown(16 * GiB, VmStatistics{1 * GiB, 2 * GiB, 0, 0, 0}).appBytes,
      0u);
  // More in use than installed: used is clamped, nothing available.
  m = SystemMetrics::memoryBreakdown(16 * GiB, VmStatistics{UINT64_MAX, 0, 0, UINT64_MAX, 5});
  EXPECT_EQ(m.usedBytes, 16 * GiB);
  EXPECT_EQ(m.availableBytes, 0u);
}

TEST(SystemMetricsFixtures, HybridLaptop) {
  auto roots = platform::Roots::under(test::fixture("linux/hybrid_laptop"));
  auto r = SystemReading::now(roots);
  EXPECT_EQ(r.busyTicks, 1000u + 200 + 300 + 10 + 20);  // steal (30) is in neither figure
  EXPECT_EQ(r.totalTicks, r.busyTicks + 5000 + 100);
  EXPECT_EQ(r.swapOuts, 4242u);

  SystemReading earlier{r.time - 2, r.busyTicks - 70, r.totalTicks - 100, 4242 - 100};
  auto s = SystemMetrics::between(earlier, r, roots);
  EXPECT_DOUBLE_EQ(s.cpu.usage, 0.7);
  EXPECT_EQ(s.cpu.logicalCores, 4);
  EXPECT_EQ(s.cpu.performanceCores, 1);  // two hyper-threads of one core
  EXPECT_EQ(s.cpu.efficiencyCores, 2);
  EXPECT_DOUBLE_EQ(s.cpu.loadAverage1m, 2.5);
  EXPECT_DOUBLE_EQ(s.cpu.loadAverage5m, 1.75);
  EXPECT_NEAR(s.cpu.freeCores, 1.2, 1e-9);
  EXPECT_NEAR(s.memory.swapOutsPerSecond, 50, 1e-6);
  const uint64_t k = 1024;
  EXPECT_EQ(s.memory.totalBytes, 16384000 * k);
  EXPECT_EQ(s.memory.appBytes, 9000000 * k);
  EXPECT_EQ(s.memory.wiredBytes, (20000 + 100000 + 20000 + 60000) * k);
  EXPECT_EQ(s.memory.compressedBytes, 30000 * k + 12582912);  // zswap + zram
  EXPECT_EQ(s.memory.cachedBytes, (1000000 + 1500000 + 200000) * k);
  EXPECT_EQ(s.memory.usedBytes, s.memory.appBytes + s.memory.wiredBytes + s.memory.compressedBytes);
  EXPECT_EQ(s.memory.pressure, "warning");  // some avg10 12.5
  EXPECT_EQ(s.memory.swapTotalBytes, 8192000 * k);
  EXPECT_EQ(s.memory.swapUsedBytes, 2048000 * k);
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
    EXPECT_EQ(s.memory.totalBytes, 0u) << scenario;
    EXPECT_EQ(s.memory.pressure, "normal") << scenario;
    EXPECT_EQ(s.thermalState, "unknown") << scenario;
    EXPECT_FALSE(s.lowPowerMode) << scenario;
    // Without a mount table "/" alone is examined.
    ASSERT_EQ(s.volumes.size(), 1u) << scenario;
    EXPECT_EQ(s.volumes[0].path + s.volumes[0].name, "//") << scenario;
  }
}

TEST(SystemMetricsFixtures, MountTableFiltersPseudoNetworkAndRepeats) {
  test::TempDir dir;
  auto data = dir.path() / "data disk";
  auto share = dir.path() / "share";
  std::filesystem::create_directories(data);
  std::filesystem::create_directories(share);
  auto hosts = dir.write("hosts", "127.0.0.1 localhost\n");
  std::string escaped = data.string();
  escaped.replace(escaped.find(' '), 1, "\\040");
  dir.write("proc/self/mountinfo",
            "1 0 0:30 / / rw - overlay overlay rw\n"
            "2 1 0:5 / /proc rw - proc proc rw\n"
            "3 1 8:1 / " +
                escaped +
                " rw - ext4 /dev/sda1 rw\n"
                "4 1 8:1 / " +
                share.string() +
                " rw - ext4 /dev/sda1 rw\n"
                "5 1 8:1 / " +
                hosts.string() +
                " rw - ext4 /dev/sda1 rw\n"
                "6 1 0:40 / /net rw - nfs4 server:/export rw\n"
                "7 1 8:2 / /boot/efi rw - vfat /dev/sda2 rw\n");
  auto s = SystemMetrics::between({}, {}, platform::Roots::under(dir.path()));
  // The overlay root stays; a bind mount of a listed file system, a bound
  // file, pseudo, network and boot partitions do not.
  std::vector<std::pair<std::string, std::string>> volumes;
  for (const auto& v : s.volumes) volumes.emplace_back(v.path, v.name);
  EXPECT_EQ(volumes, (std::vector<std::pair<std::string, std::string>>{
                         {"/", "/"}, {data.string(), "data disk"}}));
  EXPECT_GT(s.volumes[1].totalBytes, 0);
}

}  // namespace
}  // namespace norvo
