// Pure parsers for the per-process files of /proc (proc(5)). They take the
// file's content and never touch the file system, so tests feed them literal
// strings. Each returns absent for text it cannot make sense of.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::parse {

struct PidStat {
  int32_t pid = 0;
  std::string command;  // between the parentheses; may itself hold ") "
  char state = '?';
  int32_t ppid = 0;
  uint64_t utimeTicks = 0;
  uint64_t stimeTicks = 0;
  uint64_t startTicks = 0;  // clock ticks after boot
};

// /proc/<pid>/stat. The command name may contain spaces and parentheses, so
// the fields after it are found from the last ')'.
std::optional<PidStat> pidStat(std::string_view text);

// RssAnon + VmSwap of /proc/<pid>/status, in bytes: the memory that is the
// process's own, the counterpart of a physical footprint. Absent when neither
// line is there (kernel threads, kernels before 4.5).
std::optional<uint64_t> statusFootprint(std::string_view text);

// The same footprint from /proc/<pid>/statm, without swap: resident minus
// shared pages is RssAnon. procfs renders statm several times faster than
// status, so it is read whenever no swap is in use. Absent for a process
// without memory (kernel threads) and for malformed text.
std::optional<uint64_t> statmFootprint(std::string_view text, uint64_t pageSize);

// The arguments of /proc/<pid>/cmdline (NUL-separated) joined by single spaces.
// Invalid UTF-8 is repaired with U+FFFD; more than 400 characters are cut to
// 400 and "…" is appended.
std::string commandLineArguments(std::string_view cmdline);

// The application id of a desktop app unit in /proc/<pid>/cgroup, following
// the freedesktop naming that desktops and launchers use for the apps they
// start: "app[-<launcher>]-<id>-<random>.scope",
// "app[-<launcher>]-<id>[@<random>].service" and "app[-<launcher>]-<id>.slice",
// with '-' inside the id escaped as "\x2d". The innermost such unit wins.
std::optional<std::string> appIdFromCgroup(std::string_view text);

// The value of `name` in /proc/<pid>/environ (NUL-separated "NAME=value").
std::optional<std::string> environValue(std::string_view text, std::string_view name);

// What the kernel says about how a process was started.
struct StartFacts {
  std::string_view cmdline;     // /proc/<pid>/cmdline
  std::string_view command;     // /proc/<pid>/comm, at most 15 bytes
  std::string_view cwd;         // /proc/<pid>/cwd
  std::string_view pathList;    // the process's own PATH
  std::string_view executable;  // /proc/<pid>/exe; empty when unreadable
};

// The program as it was started, before links were resolved: argv[0] made
// absolute against the working folder, or looked up on PATH when it has no
// slash. `resolve` gives the file a path finally leads to, absent when there
// is none. Absent when argv[0] is not what the kernel ran: its base name is
// not the command name (programs that rewrite their argv) or its file is not
// the executable (it moved, or PATH changed since).
std::optional<std::string> startedPath(
    const StartFacts& facts,
    const std::function<std::optional<std::string>(const std::string&)>& resolve);

// "btime" of /proc/stat: the boot time in seconds since 1970.
std::optional<uint64_t> bootTime(std::string_view procStat);

// The string value of `key` in an XML property list's top-level dictionary.
std::optional<std::string> plistString(std::string_view xml, std::string_view key);

}  // namespace norvo::platform::parse
