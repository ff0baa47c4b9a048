// A helper program the product starts itself and watches without blocking:
// started from an argument vector (never through a shell), polled for its
// end, and killed when it overstays. The owner of the handle decides when
// to poll; nothing here waits.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace norvo::platform {

class ChildProcess {
 public:
  // Starts argv[0] (a path) with the given arguments, standard input from
  // /dev/null and the other streams inherited. On failure returns absent and
  // sets `error` to the reason.
  static std::optional<ChildProcess> spawn(const std::vector<std::string>& argv,
                                           std::string& error);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Kills and reaps a child that is still running, so none is left behind.
  ~ChildProcess();

  int pid() const { return pid_; }
  std::chrono::steady_clock::time_point started() const { return started_; }

  // The exit status once the child has ended (128 + N when signal N ended
  // it); absent while it runs. Never blocks.
  std::optional<int> poll();

  // Sends SIGKILL and reaps.
  void kill();

 private:
  explicit ChildProcess(int pid) : pid_(pid), started_(std::chrono::steady_clock::now()) {}
  int pid_ = -1;  // -1 once reaped
  std::chrono::steady_clock::time_point started_;
  std::optional<int> status_;
};

// The running program's own file, resolved; absent when the system does not say.
std::optional<std::string> ownExecutable();

}  // namespace norvo::platform
