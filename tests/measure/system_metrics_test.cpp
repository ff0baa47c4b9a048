#include "core/measure/system_metrics.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "test_support.hpp"

namespace norvo {
namespace {

using platform::MountedVolume;
using platform::VmStatistics;

SystemReading reading(double time, uint64_t busy, uint64_t total, uint64_t swapOuts = 0) {
  return SystemReading{time, busy, total, swapOuts};
}

TEST(SystemMetricsFormulas, IntervalAndUsage) {
  // Same time: at least a millisecond, so rates stay finite.
  EXPECT_DOUBLE_EQ(SystemMetrics::sampleSecondsBetween(reading(5, 0, 0), reading(5, 0, 0)), 0.001);
  EXPECT_DOUBLE_EQ(SystemMetrics::sampleSecondsBetween(reading(5, 0, 0), reading(3, 0, 0)), 0.001);
  EXPECT_DOUBLE_EQ(SystemMetrics::sampleSecondsBetween(reading(5, 0, 0), reading(7.5, 0, 0)), 2.5);
  EXPECT_DOUBLE_EQ(SystemMetrics::sampleSecondsBetween(reading(0, 0, 0), reading(NAN, 0, 0)),
                   0.001);

  EXPECT_DOUBLE_EQ(SystemMetrics::usageBetween(reading(0, 10, 100), reading(1, 90, 100)), 0.0);
  EXPECT_DOUBLE_EQ(SystemMetrics::usageBetween(reading(0, 10, 100), reading(1, 35, 200)), 0.25);
  // More busy than total (counters read at slightly different moments): capped.
  EXPECT_DOUBLE_EQ(SystemMetrics::usageBetween(reading(0, 10, 100), reading(1, 300, 200)), 1.0);
  // Counters that wrapped around 2^64 still give the true difference.
  EXPECT_DOUBLE_EQ(
      SystemMetrics::usageBetween(reading(0, UINT64_MAX - 9, UINT64_MAX - 19), reading(1, 10, 80)),
      0.2);
}

TEST(SystemMetricsFormulas, MemoryBreakdown) {
  constexpr uint64_t GiB = 1ull << 30;
  auto none = SystemMetrics::memoryBreakdown(16 * GiB, std::nullopt);
  EXPECT_EQ(none.usedBytes, 0u);
  EXPECT_EQ(none.availableBytes, 16 * GiB);
  EXPECT_EQ(none.cachedBytes, 0u);

  VmStatistics v{6 * GiB, 1 * GiB, 3 * GiB, 2 * GiB, 1 * GiB};
  auto m = SystemMetrics::memoryBreakdown(16 * GiB, v);
  EXPECT_EQ(m.appBytes, 5 * GiB);
  EXPECT_EQ(m.cachedBytes, 4 * GiB);
  EXPECT_EQ(m.usedBytes, 8 * GiB);
  EXPECT_EQ(m.availableBytes, 8 * GiB);

  // Purgeable beyond internal gives 0, not a wrapped value.
  v = {1 * GiB, 2 * GiB, 0, 0, 0};
  EXPECT_EQ(SystemMetrics::memoryBreakdown(16 * GiB, v).appBytes, 0u);

  // More in use than installed: used is clamped, nothing available.
  v = {UINT64_MAX, 0, 0, UINT64_MAX, 5};
  m = SystemMetrics::memoryBreakdown(16 * GiB, v);
  EXPECT_EQ(m.usedBytes, 16 * GiB);
  EXPECT_EQ(m.availableBytes, 0u);
}

TEST(SystemMetricsFormulas, PressureAndThermalTexts) {
  EXPECT_EQ(SystemMetrics::pressureText(1), "normal");
  EXPECT_EQ(SystemMetrics::pressureText(2), "warning");
  EXPECT_EQ(SystemMetrics::pressureText(4), "critical");
  for (int other : {0, 3, 5, -1}) EXPECT_EQ(SystemMetrics::pressureText(other), "normal");
  EXPECT_EQ(SystemMetrics::pressureText(std::nullopt), "normal");
  EXPECT_EQ(SystemMetrics::thermalText(platform::ThermalLevel::serious), "serious");
  EXPECT_EQ(SystemMetrics::thermalText(platform::ThermalLevel::unknown), "unknown");
}

TEST(SystemMetricsFormulas, VolumeSelectionAndNames) {
  std::vector<MountedVolume> mounted = {
      {"/", std::nullopt, 100, 40, true, false},
      {"/mnt/data/", std::string("Data"), 50, std::nullopt, std::nullopt, std::nullopt},
      {"/media/usb", std::nullopt, 10, 1, true, true},    // read-only
      {"/net/share", std::nullopt, 10, 1, false, false},  // network
      {"/empty", std::nullopt, 0, 0, true, false},        // zero-sized
      {"/unknown", std::nullopt, std::nullopt, 5, true, false},
      {"/home/owner/disk", std::string(""), 7, 3, true, false},
  };
  auto kept = SystemMetrics::keepVolumes(mounted);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0], (SystemMetrics::Volume{"/", "/", 100, 40}));
  EXPECT_EQ(kept[1], (SystemMetrics::Volume{"/mnt/data/", "Data", 50, 0}));
  EXPECT_EQ(kept[2].name, "disk");

  SystemMetrics s;
  EXPECT_FALSE(s.bootVolume().has_value());
  s.volumes = {kept[1], kept[2]};
  EXPECT_EQ(s.bootVolume()->path, "/mnt/data/");
  s.volumes = kept;
  std::swap(s.volumes[0], s.volumes[2]);
  EXPECT_EQ(s.bootVolume()->path, "/");
}

TEST(SystemMetricsJson, RoundTripsAndRequiresEveryKey) {
  SystemMetrics s;
  s.timestamp = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5};
  s.sampleSeconds = 2;
  s.cpu = {0.5, 8, 4, 4, 1.5, 1.0, 4.0};
  s.memory.totalBytes = 1024;
  s.memory.pressure = "warning";
  s.volumes = {{"/", "/", 10, 5}};
  s.thermalState = "fair";
  s.lowPowerMode = true;
  auto text = json_codec::encode(nlohmann::json(s));
  auto back = json_codec::decodeAs<SystemMetrics>(text);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->cpu, s.cpu);
  EXPECT_EQ(back->memory, s.memory);
  EXPECT_EQ(back->volumes, s.volumes);
  EXPECT_EQ(back->timestamp, s.timestamp);
  EXPECT_TRUE(back->lowPowerMode);
  EXPECT_NE(text.find("\"timestamp\":\"2026-12-05T00:00:00Z\""), std::string::npos);

  for (const char* key : {"timestamp", "cpu", "volumes", "lowPowerMode"}) {
    auto j = nlohmann::json::parse(text);
    j.erase(key);
    EXPECT_FALSE(json_codec::decodeAs<SystemMetrics>(j.dump()).has_value()) << key;
  }
  auto j = nlohmann::json::parse(text);
  j["memory"].erase("swapOutsPerSecond");
  EXPECT_FALSE(json_codec::decodeAs<SystemMetrics>(j.dump()).has_value());
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

TEST(SystemMetricsFixtures, NoPsiFallsBackToAvailableShare) {
  auto roots = platform::Roots::under(test::fixture("linux/no_psi"));
  auto r = SystemReading::now(roots);
  EXPECT_EQ(r.totalTicks, 0u);  // three columns are too few to trust
  auto s = SystemMetrics::between(r, r, roots);
  EXPECT_EQ(s.memory.pressure, "critical");            // 300000 of 8000000 kB available
  EXPECT_EQ(s.cpu.logicalCores, 1);                    // counted from /proc/stat
  EXPECT_EQ(s.memory.usedBytes, s.memory.totalBytes);  // anon beyond total is clamped
  EXPECT_EQ(s.thermalState, "unknown");
  EXPECT_EQ(s.memory.swapTotalBytes, 0u);
}

TEST(SystemMetricsFixtures, BareAndMalformedTreesFallBack) {
  for (const char* scenario : {"linux/bare_vm", "linux/malformed"}) {
    SCOPED_TRACE(scenario);
    auto roots = platform::Roots::under(test::fixture(scenario));
    SystemReading r;
    ASSERT_NO_THROW(r = SystemReading::now(roots));
    EXPECT_EQ(r.busyTicks, 0u);
    EXPECT_EQ(r.totalTicks, 0u);
    EXPECT_EQ(r.swapOuts, 0u);
    auto s = SystemMetrics::between(r, r, roots);
    EXPECT_EQ(s.cpu.usage, 0);
    EXPECT_EQ(s.cpu.logicalCores, 1);
    EXPECT_EQ(s.cpu.performanceCores, 1);
    EXPECT_EQ(s.cpu.efficiencyCores, 0);
    EXPECT_EQ(s.cpu.freeCores, 1.0);
    EXPECT_EQ(s.cpu.loadAverage1m, 0);
    EXPECT_EQ(s.memory.totalBytes, 0u);
    EXPECT_EQ(s.memory.pressure, "normal");
    EXPECT_EQ(s.thermalState, "unknown");
    EXPECT_FALSE(s.lowPowerMode);
    // Without a mount table "/" alone is examined.
    ASSERT_EQ(s.volumes.size(), 1u);
    EXPECT_EQ(s.volumes[0].path, "/");
    EXPECT_EQ(s.volumes[0].name, "/");
  }
}

TEST(SystemMetricsFixtures, MountTableFiltersPseudoNetworkAndRepeats) {
  test::TempDir dir;
  auto data = dir.path() / "data disk";
  auto share = dir.path() / "share";
  std::filesystem::create_directories(data);
  std::filesystem::create_directories(share);
  auto hosts = dir.write("hosts", "127.0.0.1 localhost\n");
  auto esc = [](std::string p) {
    std::string out;
    for (char c : p) out += c == ' ' ? std::string("\\040") : std::string(1, c);
    return out;
  };
  std::string table =
      "1 0 0:30 / / rw - overlay overlay rw\n"
      "2 1 0:5 / /proc rw - proc proc rw\n"
      "3 1 8:1 / " +
      esc(data.string()) +
      " rw - ext4 /dev/sda1 rw\n"
      "4 1 8:1 / " +
      share.string() +
      " rw - ext4 /dev/sda1 rw\n"
      "5 1 8:1 / " +
      hosts.string() +
      " rw - ext4 /dev/sda1 rw\n"
      "6 1 0:40 / /net rw - nfs4 server:/export rw\n"
      "7 1 8:2 / /boot/efi rw - vfat /dev/sda2 rw\n";
  dir.write("proc/self/mountinfo", table);
  auto roots = platform::Roots::under(dir.path());
  auto s = SystemMetrics::between(SystemReading{}, SystemReading{}, roots);
  ASSERT_GE(s.volumes.size(), 2u);
  EXPECT_EQ(s.volumes[0].path, "/");  // overlay root is kept
  EXPECT_EQ(s.volumes[1].path, data.string());
  EXPECT_EQ(s.volumes[1].name, "data disk");
  EXPECT_GT(s.volumes[1].totalBytes, 0);
  for (const auto& v : s.volumes) {
    EXPECT_NE(v.path, share.string()) << "bind mount of a listed file system";
    EXPECT_NE(v.path, hosts.string()) << "a bind-mounted file is not a volume";
    EXPECT_NE(v.path, "/proc");
    EXPECT_NE(v.path, "/boot/efi");
  }
}

// Invariants on the real machine, never exact figures.
TEST(SystemMetricsLive, PlausibleOnThisMachine) {
  auto first = SystemReading::now();
  ::usleep(100000);
  auto second = SystemReading::now();
  auto s = SystemMetrics::between(first, second);
  EXPECT_GE(s.cpu.usage, 0.0);
  EXPECT_LE(s.cpu.usage, 1.0);
  EXPECT_EQ(s.cpu.logicalCores, ::sysconf(_SC_NPROCESSORS_ONLN));
  EXPECT_GT(s.memory.totalBytes, 0u);
  EXPECT_LE(s.memory.usedBytes, s.memory.totalBytes);
  EXPECT_GT(s.sampleSeconds, 0.05);
  ASSERT_TRUE(s.bootVolume().has_value());
  EXPECT_EQ(s.bootVolume()->path, "/");
}

}  // namespace
}  // namespace norvo
