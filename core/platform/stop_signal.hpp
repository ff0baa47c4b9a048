// A wake-up that a signal handler, another thread or the loop itself can pull,
// and that a sleeping loop notices at once. A plain sleep would keep SIGTERM
// waiting for the rest of the interval; this one is a file descriptor that the
// sleep polls, so a stop lands within the time a poll takes to return.
#pragma once

#include <chrono>

namespace norvo::platform {

class StopSignal {
 public:
  // Throws std::system_error when the kernel gives no descriptor.
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Asks every current and later wait to return. Async-signal-safe.
  void request() noexcept;

  // Whether a stop was requested (a read that never blocks).
  bool requested() const noexcept;

  // Sleeps until `deadline` or a stop, whichever is first; returns requested().
  // Interrupted waits resume until one or the other.
  bool waitUntil(std::chrono::steady_clock::time_point deadline) const noexcept;

  // A descriptor that polls readable once a stop was requested, for loops
  // that wait on other descriptors too.
  int fd() const noexcept { return fd_; }

  // Routes SIGINT and SIGTERM of this process to `signal.request()` for as
  // long as it lives; the previous handlers come back when it is destroyed.
  // Only one may be installed at a time; installing a second one throws
  // std::logic_error.
  class SignalRoute {
   public:
    explicit SignalRoute(StopSignal& signal);
    ~SignalRoute();
    SignalRoute(const SignalRoute&) = delete;
    SignalRoute& operator=(const SignalRoute&) = delete;
  };

 private:
  int fd_ = -1;
};

}  // namespace norvo::platform
