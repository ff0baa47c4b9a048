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
    EXPECT_EQ(std::tuple(a->processors, a->limitedBy, a->quotaProcessors, a->quotaUsageMicros),
              std::tuple(c.processors, c.limitedBy, c.quota, c.usageMicros))
        << c.scenario;
  }
  // 2 processors of quota limit nothing on a host of 2.
  EXPECT_FALSE(system_source::cpuAllowance(tree("cgroup_v1"), 2).has_value());
  for (const char* text : {"max 100000", "0 100000", "100000 0", "-1 100000", "150000", "1.5 1"})
    EXPECT_EQ(parse::cpuMax(text), std::nullopt) << text;
  EXPECT_EQ(parse::cfsQuota("-1\n", "100000\n"), std::nullopt);
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
    ASSERT_TRUE(m.has_value() && m->stats.has_value()) << c.scenario;
    EXPECT_EQ(std::tuple(m->limitBytes, m->stats->internalBytes, m->stats->externalBytes,
                         m->stats->wiredBytes, m->pressure),
              std::tuple(c.limit, c.app, c.cached, c.wired, c.pressure))
        << c.scenario;
  }
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
  struct Case {
    const char* name;
    const char* online;
    std::vector<const char*> capacity;  // cpu_capacity of cpu0, cpu1, …; later ones have none
    const char* hybridCore;             // hybrid Intel's lists, when present
    const char* hybridAtom;
    std::optional<int64_t> performance, efficiency;
  };
  using V = std::vector<const char*>;
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
  for (const auto& c : cases) {
    test::TempDir dir;
    dir.write("sys/devices/system/cpu/online", c.online);
    for (size_t cpu = 0; cpu < c.capacity.size(); ++cpu)
      dir.write("sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpu_capacity",
                c.capacity[cpu]);
    if (c.hybridCore) dir.write("sys/devices/cpu_core/cpus", c.hybridCore);
    if (c.hybridAtom) dir.write("sys/devices/cpu_atom/cpus", c.hybridAtom);
    auto levels = system_source::performanceLevels(Roots::under(dir.path()));
    EXPECT_EQ(std::pair(levels.performance, levels.efficiency),
              std::pair(c.performance, c.efficiency))
        << c.name;
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
            "35 26 0:60 / /mnt/share rw - cifs //srv/x rw\n"
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
    MountedVolume v;
    v.path = path;
    v.totalBytes = 100;
    v.availableBytes = 50;
    return std::optional(v);
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
  for (const char* never : {"/mnt/nfs", "/mnt/share", "/sandbox/home", "/data-again"})
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
