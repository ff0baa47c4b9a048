// Runs the built `zemnorvo` as a child with its standard streams on pipes, so
// tests see exactly what a caller such as Claude Code sees.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace norvo::test {

// The first line in `buffer`, without its line feed, reading more from `fd`
// into it as needed; absent when `fd` ends or `timeout` passes first.
std::optional<std::string> readLine(int fd, std::string& buffer, std::chrono::milliseconds timeout);
// Appends what `fd` gives to `buffer` until its end or `timeout`.
void readAll(int fd, std::string& buffer, std::chrono::milliseconds timeout);

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void write(const std::string& bytes);
  void closeStdin();
  void closeStdout();
  void signal(int sig);
  // One line of standard output without its line feed, or absent on timeout or end.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  // Everything left on standard output until end of output or the timeout.
  std::string readRest(std::chrono::milliseconds timeout);
  // Everything on standard error until its end or the timeout.
  std::string readErrors(std::chrono::milliseconds timeout);
  // The wait status once the child exited within `timeout`; the child is killed
  // and absent returned otherwise.
  std::optional<int> wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  std::string buffer_;
};

}  // namespace norvo::test
