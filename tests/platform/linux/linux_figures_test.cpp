// Figures that must mean on Linux what they mean to the owner: memory that only
// swap can free is app memory; the clock that times samples skips sleep.
#include <gtest/gtest.h>
#include <time.h>

#include "core/platform/linux/proc_parsers.hpp"
#include "core/platform/system_source.hpp"

namespace norvo::platform::parse {
namespace {

constexpr uint64_t kKiB = 1024;

TEST(LinuxMemoryFigures, SharedMemoryIsAppMemoryAndLockedPagesCountOnce) {
  struct Case {
    const char* name;
    const char* meminfo;
    uint64_t app, external, wired;  // in kB
  };
  const Case cases[] = {
      // 1 GiB in /dev/shm: Shmem sits on the anon lists and in Cached, never
      // in the file lists.
      {"shm on the anon lists",
       "MemTotal: 8000000 kB\nAnonPages: 1000000 kB\nShmem: 1048576 kB\n"
       "Cached: 2048576 kB\nActive(anon): 1548576 kB\nInactive(anon): 500000 kB\n"
       "Active(file): 600000 kB\nInactive(file): 400000 kB\nUnevictable: 0 kB\n",
       2048576, 1000000, 0},
      // 300 MB mlocked: gone from the anon lists, present in AnonPages and
      // Unevictable.
      {"mlocked anon",
       "MemTotal: 8000000 kB\nAnonPages: 1300000 kB\nShmem: 0 kB\nMlocked: 300000 kB\n"
       "Active(anon): 700000 kB\nInactive(anon): 300000 kB\nActive(file): 10 kB\n"
       "Unevictable: 300000 kB\nSUnreclaim: 5 kB\nKernelStack: 6 kB\nPageTables: 7 kB\n"
       "SReclaimable: 20 kB\n",
       1000000, 30, 300018},
      // Without the LRU lists: AnonPages + Shmem, less what is locked; Cached
      // less Shmem.
      {"no lists",
       "MemTotal: 8000000 kB\nAnonPages: 1000 kB\nShmem: 400 kB\nMlocked: 100 kB\n"
       "Cached: 900 kB\nUnevictable: 100 kB\n",
       1300, 500, 100},
      {"shmem larger than cached and mlocked larger than anon",
       "MemTotal: 8000000 kB\nAnonPages: 10 kB\nShmem: 50 kB\nMlocked: 900 kB\n"
       "Cached: 20 kB\n",
       0, 0, 0},
  };
  for (const auto& c : cases) {
    auto f = memoryFigures(c.meminfo);
    ASSERT_TRUE(f.has_value()) << c.name;
    EXPECT_EQ(f->appBytes, c.app * kKiB) << c.name;
    EXPECT_EQ(f->externalBytes, c.external * kKiB) << c.name;
    EXPECT_EQ(f->wiredBytes, c.wired * kKiB) << c.name;
  }
  for (const char* bad : {"", "MemTotal: 8 kB\n", "AnonPages: 8 kB\n", "MemTotal: x kB\n"})
    EXPECT_FALSE(memoryFigures(bad).has_value()) << bad;
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
}  // namespace norvo::platform::parse
