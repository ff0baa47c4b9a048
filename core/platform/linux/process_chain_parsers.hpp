// Pure parsers for the per-process /proc texts the ancestry read needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::parse {

struct ProcessStat {
  std::string comm;         // the kernel's short command name, at most 15 bytes
  int32_t ppid = 0;         // field 4
  uint64_t startTicks = 0;  // field 22: clock ticks after boot
};

// /proc/<pid>/stat (proc(5)). The command name sits in parentheses and may
// itself contain ")" or spaces, so the fields are counted from the last ")".
std::optional<ProcessStat> processStat(std::string_view text);

// /proc/<pid>/cmdline: NUL-separated arguments joined by single spaces, cut to
// 400 characters followed by "…" when longer.
std::string commandLine(std::string_view raw);

// The "btime" line of /proc/stat: boot time in seconds since 1970.
std::optional<uint64_t> bootTime(std::string_view procStat);

}  // namespace norvo::platform::parse
