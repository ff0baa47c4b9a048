// A sample taken inside a container or a slice describes what the process may
// use, and says so; outside one it reads as it always did.
#include <gtest/gtest.h>

#include <cmath>

#include "core/assess/compact.hpp"
#include "core/measure/system_metrics.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

constexpr uint64_t GiB = 1ull << 30;

SystemReading quotaReading(double time, std::optional<double> quota,
                           std::optional<uint64_t> usage) {
  SystemReading r{time, 0, 0, 0};
  r.quotaProcessors = quota;
  r.quotaUsageMicros = usage;
  return r;
}

TEST(QuotaUsage, TimeSpentOverTimeGranted) {
  struct Case {
    const char* name;
    SystemReading previous, current;
    std::optional<double> usage;
  };
  const Case cases[] = {
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
  for (const auto& c : cases) {
    auto usage = SystemMetrics::quotaUsageBetween(c.previous, c.current);
    ASSERT_EQ(usage.has_value(), c.usage.has_value()) << c.name;
    if (usage) {
      EXPECT_DOUBLE_EQ(*usage, *c.usage) << c.name;
    }
  }
}

SystemMetrics sampleOf(const std::string& scenario) {
  auto roots = platform::Roots::under(test::fixture("linux/" + scenario));
  auto first = SystemReading::now(roots);
  return SystemMetrics::between(first, first, roots);
}

TEST(CgroupMetrics, LimitsAppearInRecordAndDigestOnlyWhenTheyApply) {
  auto limited = sampleOf("cgroup_v1");
  auto free = sampleOf("cgroup_no_limit");
  // The container's 2 processors of quota and 1 GiB, not the host's 8 and 16 GiB.
  EXPECT_EQ(limited.cpu.logicalCores, 2);
  EXPECT_LE(limited.cpu.performanceCores, 2);
  EXPECT_EQ(limited.memory.totalBytes, GiB);
  EXPECT_EQ(free.memory.totalBytes, 16 * GiB);
  nlohmann::json record = limited;
  EXPECT_EQ(record["cpu"]["limitedBy"], "cgroup");
  EXPECT_EQ(record["memory"]["limitedBy"], "cgroup");
  EXPECT_EQ(record.get<SystemMetrics>().cpu, limited.cpu);
  nlohmann::json plain = free;
  EXPECT_FALSE(plain["cpu"].contains("limitedBy")) << plain["cpu"];
  EXPECT_FALSE(plain["memory"].contains("limitedBy")) << plain["memory"];

  auto digestOf = [](const SystemMetrics& m) {
    NorvoSnapshot snap;
    snap.metrics = m;
    return Compact::status(snap, 0, std::nullopt,
                           [](auto&&...) { return std::optional<Compact::FreeChange>{}; });
  };
  auto digest = digestOf(limited);
  EXPECT_EQ(digest["cpu"]["limited_by"], "cgroup");
  EXPECT_EQ(digest["cpu"]["cores"], 2);
  EXPECT_EQ(digest["memory"]["limited_by"], "cgroup");
  auto unlimited = digestOf(free);
  EXPECT_FALSE(unlimited["cpu"].contains("limited_by"));
  EXPECT_FALSE(unlimited["memory"].contains("limited_by"));
}

}  // namespace
}  // namespace norvo
