// Signalling processes without ever hitting the wrong one. A pid alone names
// whatever process has that number now; a pinned process is a kernel handle to
// the one process that had it when the handle was opened, so a signal sent
// through it reaches that process or nobody, even if the number is reused in
// between. Callers check the start time, pin, check again, then signal.
#pragma once

#include <cstdint>
#include <optional>

namespace norvo::platform {

class PinnedProcess {
 public:
  // Pins the process that has `pid` now. Absent when no such process exists
  // (or pid < 1). Where the system cannot pin processes the handle holds the
  // bare pid, and `pinned()` says so.
  static std::optional<PinnedProcess> pin(int32_t pid);

  PinnedProcess(PinnedProcess&& other) noexcept;
  PinnedProcess& operator=(PinnedProcess&& other) noexcept;
  PinnedProcess(const PinnedProcess&) = delete;
  PinnedProcess& operator=(const PinnedProcess&) = delete;
  ~PinnedProcess();

  int32_t pid() const { return pid_; }
  bool pinned() const { return fd_ >= 0; }

  // Sends `signal` to the pinned process; false when it was not delivered
  // (the process is gone, or not ours).
  bool send(int signal) const;

  // True once the pinned process has exited (a zombie counts as exited). An
  // unpinned handle can only tell that no process has the pid any more.
  bool exited() const;

 private:
  PinnedProcess(int32_t pid, int fd) : pid_(pid), fd_(fd) {}
  int32_t pid_ = 0;
  int fd_ = -1;
};

// The outcome of probing a pid with signal 0.
enum class SignalProbe { delivered, notPermitted, noProcess };

// Probes `pid` with signal 0 (pid < 1 gives noProcess without asking).
SignalProbe probe(int32_t pid);

}  // namespace norvo::platform
