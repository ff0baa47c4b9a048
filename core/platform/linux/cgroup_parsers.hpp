// Pure parsers for the control-group files that bound what this process may
// use. Like the /proc parsers they take a file's content and never touch the
// file system; absent means "no limit here", never an error.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/linux/proc_parsers.hpp"
#include "core/platform/system_source.hpp"

namespace norvo::platform::parse {

// Where /proc/self/cgroup places this process: the path in the unified (v2)
// hierarchy, and per v1 controller the mount folder's name ("cpu,cpuacct")
// with the path below it.
struct CgroupMembership {
  std::optional<std::string> unified;
  struct Controller {
    std::string mountName;
    std::string path;
  };
  std::map<std::string, Controller, std::less<>> controllers;
};
CgroupMembership cgroupMembership(std::string_view text);

// cpu.max ("quota period" or "max period"): processors' worth of time granted.
std::optional<double> cpuMax(std::string_view text);

// cpu.cfs_quota_us and cpu.cfs_period_us of v1; a quota of -1 is no limit.
std::optional<double> cfsQuota(std::string_view quotaText, std::string_view periodText);

// memory.max or memory.limit_in_bytes; "max" is no limit.
std::optional<uint64_t> memoryLimit(std::string_view text);

// "key value" lines such as cpu.stat and memory.stat; unparsable lines skipped.
std::map<std::string, uint64_t, std::less<>> keyedCounters(std::string_view text);

// PSI avg10 is the share of the last 10 s in which tasks stalled on memory.
// "full" 10 % means everything stood still a tenth of the time, which a person
// feels as freezes; "some" 10 % is a noticeable slowdown.
PressureLevel stallLevel(const Pressure& p);

// Without PSI: under 5 % available the OOM killer is near, under 10 % the
// kernel is reclaiming hard. Absent when total is 0.
std::optional<PressureLevel> availableLevel(uint64_t availableBytes, uint64_t totalBytes);

}  // namespace norvo::platform::parse
