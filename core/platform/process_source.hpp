// The operating-system reads behind the process table. The cheap reads (the
// pid list, one fixed record per process) always come back quickly; the
// detail reads (executable, command line, resource usage) may block on a
// process that is stuck in the kernel, so the table runs them on its workers
// under a deadline. An interface rather than free functions so that tests can
// hand the table a reader that blocks or counts its calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"

namespace norvo::platform {

// The cheap facts of one process.
struct ProcessBasics {
  int32_t pid = 0;
  int32_t ppid = 0;
  uint32_t uid = 0;
  std::string command;  // the kernel's short command name
  // When the process started, in a unit that no clock adjustment moves (clock
  // ticks since boot on Linux); only ever compared for equality.
  uint64_t startTime = 0;
  char state = '?';  // the kernel's one-letter run state ('Z' for a zombie)
  // User + system time, where the cheap record carries it (Linux).
  std::optional<uint64_t> cpuNanos;
  std::string bootId;  // the boot the start time counts from; empty where unknown
};

struct ProcessCommandLine {
  // The program as started (links not resolved) where the kernel's facts
  // confirm it, else the executable; empty when not read.
  std::string path;
  std::string arguments;  // joined by spaces, at most 400 characters then "…"
  // The desktop entry of the app the session launched this process in, when
  // the session put it into an app unit of its own (see process_parsers.hpp),
  // else of the app whose program this is, when it was started otherwise.
  std::optional<std::string> appEntry;
  std::string executable;  // the file the kernel runs, links resolved
};

struct ProcessUsage {
  std::optional<uint64_t> cpuNanos;        // user + system time
  std::optional<uint64_t> footprintBytes;  // resident anonymous memory + swap
};

class ProcessSource {
 public:
  virtual ~ProcessSource() = default;

  // Every pid above 0 the system lists; empty when the listing fails.
  virtual std::vector<int32_t> allPids() const = 0;

  // Absent when the process cannot be inspected (it vanished, or its record is
  // unreadable).
  virtual std::optional<ProcessBasics> basics(int32_t pid) const = 0;

  // Executable, command line and app unit; empty fields on any failure. May block.
  virtual ProcessCommandLine commandLine(int32_t pid) const = 0;

  // Both absent when the process cannot be read. May block. `cheapCpuNanos`
  // is the CPU time of the cheap record just read, which a platform whose
  // cheap record carries it uses instead of reading it again.
  virtual ProcessUsage usage(int32_t pid, std::optional<uint64_t> cheapCpuNanos) const = 0;

  // The process the system holds responsible for `pid`; absent where the
  // system has no such notion.
  virtual std::optional<int32_t> responsiblePid(int32_t pid) const = 0;

  // "CFBundleIdentifier" of an app bundle's information list; absent when it
  // cannot be read.
  virtual std::optional<std::string> bundleIdentifier(const std::string& bundlePath) const = 0;

  // The name people know an app by, for the path that stands for it (a
  // desktop entry's "Name"); absent where the path itself is the name.
  virtual std::optional<std::string> appName(const std::string& bundlePath) const {
    (void)bundlePath;
    return std::nullopt;
  }

  // The user id of the calling process.
  virtual uint32_t currentUid() const = 0;
};

// The reader of this platform over `roots`.
std::shared_ptr<ProcessSource> makeProcessSource(const Roots& roots);

}  // namespace norvo::platform
