// The limits a container or a systemd slice puts on this process, read from
// fixture trees as Docker (v1), systemd (v2) and taskset leave them.
#include <gtest/gtest.h>

#include "core/platform/linux/cgroup_parsers.hpp"
#include "core/platform/system_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t hostBytes = 16 * GiB;

Roots tree(const std::string& scenario) { return Roots::under(test::fixture("linux/" + scenario)); }

TEST(CgroupLimits, ProcessorsAreTheTightestOfCpusetAffinityAndQuota) {
  struct Case {
    const char* scenario;
    int64_t processors;  // 0: nothing below the host's 8
    const char* limitedBy;
    std::optional<double> quota;
    std::optional<uint64_t> usageMicros;
  };
  const Case cases[] = {
      // 1.5 processors' worth keeps two busy; the slice above says "max".
      {"cgroup_v2_quota", 2, "cgroup", 1.5, 5000000},
      // Docker's cpuset of 4 and the affinity it implies, then 2 of quota;
      // v1 accounts in nanoseconds.
      {"cgroup_v1", 2, "cgroup", 2.0, 123456789},
      {"cgroup_affinity", 3, "affinity", std::nullopt, std::nullopt},
      {"cgroup_no_limit", 0, "", std::nullopt, std::nullopt},
      {"cgroup_v2_memory", 0, "", std::nullopt, std::nullopt},
      {"cgroup_malformed", 0, "", std::nullopt, std::nullopt},
      {"desktop", 0, "", std::nullopt, std::nullopt},
      {"malformed", 0, "", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto a = system_source::cpuAllowance(tree(c.scenario), 8);
    if (c.processors == 0) {
      EXPECT_FALSE(a.has_value()) << c.scenario << ": " << (a ? a->limitedBy : "");
      continue;
    }
    ASSERT_TRUE(a.has_value()) << c.scenario;
    EXPECT_EQ(a->processors, c.processors) << c.scenario;
    EXPECT_EQ(a->limitedBy, c.limitedBy) << c.scenario;
    EXPECT_EQ(a->quotaProcessors, c.quota) << c.scenario;
    EXPECT_EQ(a->quotaUsageMicros, c.usageMicros) << c.scenario;
  }
  // 2 processors of quota limit nothing on a host of 2.
  EXPECT_FALSE(system_source::cpuAllowance(tree("cgroup_v1"), 2).has_value());
}

TEST(CgroupLimits, MemoryIsTheGroupsOwnBelowALimit) {
  struct Case {
    const char* scenario;
    uint64_t limit;  // 0: no limit below the host
    uint64_t app, cached, wired;
    std::optional<PressureLevel> pressure;
  };
  const Case cases[] = {
      // The limit sits on the slice, the service below says "max"; the
      // slice's own PSI says some tasks stalled 12 % of the time.
      {"cgroup_v2_memory", 2 * GiB, GiB + 128 * MiB, 384 * MiB + 16 * MiB, 11 * MiB,
       PressureLevel::warning},
      // v1 without PSI: 1 GiB with 410 MiB in use is plenty left.
      {"cgroup_v1", GiB, 400 * MiB + 10 * MiB, 300 * MiB - 10 * MiB, 0, PressureLevel::normal},
      {"cgroup_v2_quota", 0, 0, 0, 0, std::nullopt},
      {"cgroup_no_limit", 0, 0, 0, 0, std::nullopt},
      {"cgroup_malformed", 0, 0, 0, 0, std::nullopt},
      {"desktop", 0, 0, 0, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    auto m = system_source::memoryAllowance(tree(c.scenario), hostBytes);
    if (c.limit == 0) {
      EXPECT_FALSE(m.has_value()) << c.scenario;
      continue;
    }
    ASSERT_TRUE(m.has_value()) << c.scenario;
    EXPECT_EQ(m->limitBytes, c.limit) << c.scenario;
    ASSERT_TRUE(m->stats.has_value()) << c.scenario;
    EXPECT_EQ(m->stats->internalBytes, c.app) << c.scenario;
    EXPECT_EQ(m->stats->externalBytes, c.cached) << c.scenario;
    EXPECT_EQ(m->stats->wiredBytes, c.wired) << c.scenario;
    EXPECT_EQ(m->pressure, c.pressure) << c.scenario;
  }
  // A limit at or above the RAM is not one.
  EXPECT_FALSE(system_source::memoryAllowance(tree("cgroup_v1"), GiB).has_value());
}

TEST(CgroupParsers, QuotasThatLimitNothing) {
  for (const char* text : {"max 100000", "0 100000", "100000 0", "-1 100000", "150000", "1.5 1"})
    EXPECT_EQ(parse::cpuMax(text), std::nullopt) << text;
  EXPECT_EQ(parse::cfsQuota("-1\n", "100000\n"), std::nullopt);
}

}  // namespace
}  // namespace norvo::platform
