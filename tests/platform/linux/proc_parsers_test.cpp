#include "core/platform/linux/proc_parsers.hpp"

#include <gtest/gtest.h>

namespace norvo::platform::parse {
namespace {

// Guest time is already inside user time, and steal (time the hypervisor
// took) is neither busy nor idle: a starved VM is not shown as idle.
TEST(ProcStatCpu, SumsBusyAndIdleColumns) {
  // user nice system idle iowait irq softirq steal guest guest_nice; busy and total
  const std::tuple<const char*, uint64_t, uint64_t> cases[] = {
      {"cpu  10 2 3 100 7 1 1 1 5 0\ncpu0 10 2 3 100 7 1 1 1 5 0\n", 17, 124},
      {"cpu 1 2 3 4 5 6 7\n", 1 + 2 + 3 + 6 + 7, 1 + 2 + 3 + 6 + 7 + 4 + 5},
      {"cpu 1 2 3 4\n", 6, 10},  // old kernels: the four classic columns
  };
  for (const auto& [text, busy, total] : cases) {
    auto t = procStatCpu(text);
    ASSERT_TRUE(t.has_value()) << text;
    EXPECT_EQ(std::pair(t->busy, t->total), std::pair(busy, total)) << text;
  }
  for (const char* bad : {"", "cpu0 1 2 3 4\n", "cpu 1 x 3 4\n"})
    EXPECT_FALSE(procStatCpu(bad).has_value()) << bad;
  EXPECT_EQ(procStatCpuCount("cpu 1 2 3 4\ncpu0 1\ncpu1 1\ncpufreq\nintr\n"), 2);
}

TEST(ProcSmallFiles, MeminfoVmstatLoadavgPsiCpuList) {
  auto m = meminfo("MemTotal:       16 kB\nHugePages_Total:   3\nbroken line\nX: y kB\n:\n");
  EXPECT_EQ(m, (decltype(m){{"HugePages_Total", 3}, {"MemTotal", 16 * 1024}}));

  EXPECT_EQ(vmstatField("pswpin 3\npswpout 9\n", "pswpout"), 9u);
  EXPECT_FALSE(vmstatField("pswpout\n", "pswpout").has_value());
  EXPECT_FALSE(vmstatField("pswpouts 9\n", "pswpout").has_value());

  EXPECT_EQ(loadavg("0.50 1.25 2.00 1/200 300\n"), (std::array<double, 3>{0.5, 1.25, 2.0}));
  for (const char* bad : {"0.5 nan 1", "0.5 -1 1", ""}) EXPECT_FALSE(loadavg(bad)) << bad;

  auto p =
      psi("some avg10=1.50 avg60=0 avg300=0 total=1\nfull avg10=0.25 avg60=0 avg300=0 total=1\n");
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(std::pair(p->someAvg10, p->fullAvg10), std::pair(1.5, std::optional(0.25)));
  auto someOnly = psi("some avg10=2.00 avg60=0 avg300=0 total=1\n");
  ASSERT_TRUE(someOnly.has_value());
  EXPECT_FALSE(someOnly->fullAvg10.has_value());
  EXPECT_FALSE(psi("full avg10=1.00\n").has_value());
  EXPECT_FALSE(psi("some avg10=bad\n").has_value());

  EXPECT_EQ(cpuListCount("0-3,8,10-11\n"), 7);
  for (const char* bad : {"", "3-1", "a", "0-", "0,,1", "0-99999999"})
    EXPECT_FALSE(cpuListCount(bad).has_value()) << bad;
}

// Memory that only swap can free is app memory, as the owner means it.
TEST(LinuxMemoryFigures, SharedMemoryIsAppMemoryAndLockedPagesCountOnce) {
  // What the row shows, the file, and app, external and wired memory in kB.
  const std::tuple<const char*, const char*, uint64_t, uint64_t, uint64_t> cases[] = {
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
  for (const auto& [name, meminfo, app, external, wired] : cases) {
    auto f = memoryFigures(meminfo);
    ASSERT_TRUE(f.has_value()) << name;
    EXPECT_EQ(std::tuple(f->appBytes, f->externalBytes, f->wiredBytes),
              std::tuple(app * 1024, external * 1024, wired * 1024))
        << name;
  }
  for (const char* bad : {"", "MemTotal: 8 kB\n", "AnonPages: 8 kB\n", "MemTotal: x kB\n"})
    EXPECT_FALSE(memoryFigures(bad).has_value()) << bad;
}

TEST(Mountinfo, OptionalFieldsEscapesAndReadOnly) {
  auto m = mountinfo(
      "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
      "27 26 8:17 / /media/My\\040Disk ro,nosuid master:2 unbindable - vfat /dev/sdb1 ro\n"
      "short line\n"
      "29 26 0:6 / /no-separator rw ext4 x\n");
  using Row = std::tuple<std::string, std::string, std::string, std::string, bool>;
  std::vector<Row> rows;
  for (const auto& e : m)
    rows.emplace_back(e.mountPoint, e.fsType, e.source, e.majorMinor, e.readOnly);
  EXPECT_EQ(rows, (std::vector<Row>{{"/", "ext4", "/dev/vda", "254:0", false},
                                    {"/media/My Disk", "vfat", "/dev/sdb1", "8:17", true}}));
}

}  // namespace
}  // namespace norvo::platform::parse
