// What the machine lets this process use, read from fixture trees: the limits
// a container, a systemd slice or taskset put on it, the kinds of its cores,
// the volumes it can see, and the clock that times samples.
#include <gtest/gtest.h>
#include <time.h>

#include <future>
#include <mutex>
#include <set>

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
  // Processors, what limits them, the quota and its usage; none: nothing below the host's 8.
  using Figures = std::tuple<int64_t, std::string, std::optional<double>, std::optional<uint64_t>>;
  auto figures = [](const std::optional<CpuAllowance>& a) -> std::optional<Figures> {
    if (!a) return std::nullopt;
    return Figures{a->processors, a->limitedBy, a->quotaProcessors, a->quotaUsageMicros};
  };
  const std::pair<const char*, std::optional<Figures>> cases[] = {
      // 1.5 processors' worth keeps two busy; the slice above says "max".
      {"cgroup_v2_quota", Figures{2, "cgroup", 1.5, 5000000}},
      // Docker's cpuset of 4 and the affinity it implies, then 2 of quota;
      // v1 accounts in nanoseconds.
      {"cgroup_v1", Figures{2, "cgroup", 2.0, 123456789}},
      {"cgroup_affinity", Figures{3, "affinity", std::nullopt, std::nullopt}},
      {"cgroup_no_limit", std::nullopt},
      {"cgroup_malformed", std::nullopt},
  };
  for (const auto& [scenario, expected] : cases)
    EXPECT_EQ(figures(system_source::cpuAllowance(tree(scenario), 8)), expected) << scenario;
  // 2 processors of quota limit nothing on a host of 2.
  EXPECT_FALSE(system_source::cpuAllowance(tree("cgroup_v1"), 2).has_value());
  for (const char* text : {"max 100000", "0 100000", "100000 0", "-1 100000", "150000", "1.5 1"})
    EXPECT_EQ(parse::cpuMax(text), std::nullopt) << text;
  EXPECT_EQ(parse::cfsQuota("-1\n", "100000\n"), std::nullopt);
}

TEST(CgroupLimits, MemoryIsTheGroupsOwnBelowALimit) {
  // The limit, app, cached and wired memory, pressure; none: no limit below the host.
  using Figures = std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, std::optional<PressureLevel>>;
  auto figures = [](const std::optional<MemoryAllowance>& m) -> std::optional<Figures> {
    if (!m) return std::nullopt;
    auto s = m->stats.value_or(VmStatistics{});
    return Figures{m->limitBytes, s.internalBytes, s.externalBytes, s.wiredBytes, m->pressure};
  };
  const std::pair<const char*, std::optional<Figures>> cases[] = {
      // The limit sits on the slice, the service below says "max"; the
      // slice's own PSI says some tasks stalled 12 % of the time.
      {"cgroup_v2_memory",
       Figures{2 * GiB, GiB + 128 * MiB, 384 * MiB + 16 * MiB, 11 * MiB, PressureLevel::warning}},
      // v1 without PSI: 1 GiB with 410 MiB in use is plenty left.
      {"cgroup_v1",
       Figures{GiB, 400 * MiB + 10 * MiB, 300 * MiB - 10 * MiB, 0, PressureLevel::normal}},
      {"cgroup_no_limit", std::nullopt},
      {"cgroup_malformed", std::nullopt},
  };
  for (const auto& [scenario, expected] : cases)
    EXPECT_EQ(figures(system_source::memoryAllowance(tree(scenario), hostBytes)), expected)
        << scenario;
  // A limit at or above the RAM is not one.
  EXPECT_FALSE(system_source::memoryAllowance(tree("cgroup_v1"), GiB).has_value());
}

std::vector<const char*> operator+(std::vector<const char*> a, const std::vector<const char*>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Machines that are not hybrid Intel: the scheduler's cpu_capacity tells the
// performance cores from the efficiency ones.
TEST(CoreKinds, SplitByCpuCapacity) {
  // The row's name, online processors, cpu_capacity of cpu0, cpu1, … (later
  // ones have none), hybrid Intel's core and atom lists when present, and the
  // performance and efficiency cores.
  using V = std::vector<const char*>;
  using Case = std::tuple<const char*, const char*, V, const char*, const char*,
                          std::optional<int64_t>, std::optional<int64_t>>;
  const auto none = std::nullopt;
  const Case cases[] = {
      {"Apple silicon", "0-7\n", V(4, "459") + V(4, "1024"), nullptr, nullptr, 4, 4},
      {"prime, big and little: the little are efficiency", "0-7\n",
       V(4, "256") + V(3, "870") + V(1, "1024"), nullptr, nullptr, 4, 4},
      {"one capacity", "0-3\n", V(4, "1024"), nullptr, nullptr, none, none},
      {"a processor without capacity", "0-2\n", {"400", "1024"}, nullptr, nullptr, none, none},
      {"unreadable capacity", "0-1\n", {"x", "1024"}, nullptr, nullptr, none, none},
      {"offline cpus skipped", "0,2-3\n", {"512", "512", "1024", "1024"}, nullptr, nullptr, 2, 1},
      {"hybrid Intel's lists win", "0-11\n", {"1024", "1024"}, "0-3\n", "4-11\n", 4, 8},
  };
  for (const auto& [name, online, capacity, core, atom, performance, efficiency] : cases) {
    test::TempDir dir;
    dir.write("sys/devices/system/cpu/online", online);
    for (size_t cpu = 0; cpu < capacity.size(); ++cpu)
      dir.write("sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpu_capacity",
                capacity[cpu]);
    if (core) dir.write("sys/devices/cpu_core/cpus", core);
    if (atom) dir.write("sys/devices/cpu_atom/cpus", atom);
    auto levels = system_source::performanceLevels(Roots::under(dir.path()));
    EXPECT_EQ(std::pair(levels.performance, levels.efficiency), std::pair(performance, efficiency))
        << name;
  }
}

// The listing must not be stopped or misled by the mounts around it: a dead
// network mount, a read-only view of a disk, a disk that hangs.
TEST(VolumeListing, NetworkFirstWritableMountAndADeadline) {
  test::TempDir dir;
  dir.write("proc/self/mountinfo",
            "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
            "30 26 0:50 / /mnt/nfs rw - nfs4 server:/x rw\n"
            "31 26 8:17 /home /sandbox/home ro,relatime - ext4 /dev/sdb1 ro\n"
            "32 26 8:17 / /data rw,relatime - ext4 /dev/sdb1 rw\n"
            "33 26 8:33 / /stuck-volume-listing-test rw - ext4 /dev/sdc1 rw\n"
            "34 26 8:49 / /later rw - ext4 /dev/sdd1 rw\n"
            "36 26 11:0 / /media/cd ro - udf /dev/sr0 ro\n"
            "37 26 8:17 / /data-again rw - ext4 /dev/sdb1 rw\n");
  // Shared with the reads, which may outlive the listing.
  struct Reads {
    std::mutex lock;
    std::set<std::string> asked;
    std::promise<void> release, returned;
  };
  auto reads = std::make_shared<Reads>();
  auto read = [reads, released = reads->release.get_future().share()](const std::string& path) {
    {
      std::lock_guard guard(reads->lock);
      reads->asked.insert(path);
    }
    if (path == "/stuck-volume-listing-test") {
      released.wait();
      reads->returned.set_value();
    }
    return std::optional(MountedVolume{path, std::nullopt, 100, 50, std::nullopt, std::nullopt});
  };

  auto began = std::chrono::steady_clock::now();
  auto volumes =
      system_source::mountedVolumes(Roots::under(dir.path()), read, std::chrono::milliseconds(300));
  auto took = std::chrono::steady_clock::now() - began;
  reads->release.set_value();

  EXPECT_LT(took, std::chrono::seconds(2));
  ASSERT_TRUE(volumes.has_value());
  std::vector<std::pair<std::string, bool>> listed;
  for (const auto& v : *volumes) listed.emplace_back(v.path, v.isReadOnly.value_or(false));
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, bool>>{
                        {"/", false}, {"/data", false}, {"/later", false}, {"/media/cd", true}}));
  // The stuck read finishes after the listing; wait so it does not outlive the test.
  reads->returned.get_future().wait_for(std::chrono::seconds(5));
  std::lock_guard guard(reads->lock);
  for (const char* never : {"/mnt/nfs", "/sandbox/home", "/data-again"})
    EXPECT_EQ(reads->asked.count(never), 0u) << never;
}

// The interval clock stops while the machine sleeps, or the first tick after a
// resume divides a few seconds of work by hours. A machine that has slept has
// its boot-time clock ahead of the monotonic one, and the reading must follow
// the monotonic one.
TEST(SampleClock, CountsOnlyAwakeTime) {
  timespec before{}, after{};
  ASSERT_EQ(::clock_gettime(CLOCK_MONOTONIC, &before), 0);
  double reading = system_source::uptimeSeconds();
  ASSERT_EQ(::clock_gettime(CLOCK_MONOTONIC, &after), 0);
  EXPECT_GE(reading, double(before.tv_sec) + double(before.tv_nsec) / 1e9 - 1e-6);
  EXPECT_LE(reading, double(after.tv_sec) + double(after.tv_nsec) / 1e9 + 1e-6);
}

}  // namespace
}  // namespace norvo::platform
