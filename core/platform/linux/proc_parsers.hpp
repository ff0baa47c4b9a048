// Pure parsers for the machine-wide /proc and /sys texts. They take the file's
// content and never touch the file system, so tests feed them literal strings.
// Each returns absent (or an empty result) for text it cannot make sense of.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::platform::parse {

struct CpuTicks {
  uint64_t busy = 0;
  uint64_t total = 0;
};

// The aggregate "cpu" line of /proc/stat (see proc(5)). Busy is
// user + nice + system + irq + softirq; idle is idle + iowait. Steal is time the
// hypervisor gave to someone else, so this machine neither ran nor idled then:
// it is in neither figure. Guest time is already inside user and nice (on a
// host it is work this machine did), so it is not added again. Kernels older
// than 2.6.33 print fewer columns; missing columns count as 0, but the four
// classic ones are required.
std::optional<CpuTicks> procStatCpu(std::string_view text);

// Number of per-processor "cpuN" lines in /proc/stat.
int procStatCpuCount(std::string_view text);

// "Key:   1234 kB" lines of /proc/meminfo, in bytes. Unparsable lines are skipped.
std::map<std::string, uint64_t, std::less<>> meminfo(std::string_view text);

// The memory breakdown drawn from /proc/meminfo, in bytes; each page counted once.
struct MemoryFigures {
  uint64_t appBytes = 0;       // anonymous and shared memory that only swap can free
  uint64_t externalBytes = 0;  // file pages and reclaimable kernel caches
  uint64_t wiredBytes = 0;     // pages that can never be paged out
  uint64_t zswapBytes = 0;     // the zswap pool
};

// Absent without MemTotal or any figure of anonymous memory.
std::optional<MemoryFigures> memoryFigures(std::string_view meminfoText);

// "key value" lines of /proc/vmstat.
std::optional<uint64_t> vmstatField(std::string_view text, std::string_view key);

// The first three fields of /proc/loadavg.
std::optional<std::array<double, 3>> loadavg(std::string_view text);

struct Pressure {
  double someAvg10 = 0;
  std::optional<double> fullAvg10;  // absent on kernels that print only "some"
};

// /proc/pressure/memory (Documentation/accounting/psi.rst).
std::optional<Pressure> psi(std::string_view text);

// A sysfs CPU list such as "0-3,8,10-11": the number of processors in it.
std::optional<int> cpuListCount(std::string_view text);

// The processors of a sysfs CPU list, ascending; empty for text it cannot read.
std::vector<int> cpuListMembers(std::string_view text);

// Processors split by the scheduler's cpu_capacity, each half as a CPU list.
// The cores of the lowest capacity are the efficiency cores and all faster
// ones (big and prime alike) the performance cores. Absent when every core
// has the same capacity.
struct CapacitySplit {
  std::string performance;
  std::string efficiency;
};
std::optional<CapacitySplit> splitByCapacity(const std::map<int, uint64_t>& capacities);

struct MountEntry {
  std::string mountPoint;
  std::string fsType;
  std::string source;
  std::string majorMinor;  // "254:0": identifies the file system
  bool readOnly = false;
};

// /proc/self/mountinfo (proc(5)); octal escapes such as "\040" are decoded.
std::vector<MountEntry> mountinfo(std::string_view text);

}  // namespace norvo::platform::parse
