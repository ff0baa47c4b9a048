#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/platform/child_process.hpp"
#include "core/platform/detached_process.hpp"

extern char** environ;

namespace norvo::platform {

bool spawnDetached(const std::vector<std::string>& argv, std::string& error) {
  if (argv.empty()) {
    error = "no program to start";
    return false;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // A pipe closed on exec tells the parent whether the grandchild started.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    error = std::string("cannot start ") + argv[0] + ": " + std::strerror(errno);
    return false;
  }
  pid_t child = ::fork();
  if (child < 0) {
    error = std::string("cannot start ") + argv[0] + ": " + std::strerror(errno);
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on. The intermediate child
    // exits at once, so the program is reparented and never our zombie.
    ::close(report[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execve(args[0], args.data(), environ);
    int err = errno;
    (void)!::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = std::string("cannot start ") + argv[0];
    return false;
  }
  if (n == static_cast<ssize_t>(sizeof err)) {
    error = std::string("cannot start ") + argv[0] + ": " + std::strerror(err);
    return false;
  }
  return true;
}

bool userServiceActive(const std::string& unit) {
  std::string error;
  for (const char* systemctl : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (::access(systemctl, X_OK) != 0) continue;
    auto child = ChildProcess::spawn({systemctl, "--user", "is-active", "--quiet", unit}, error);
    if (!child) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (auto status = child->poll()) return *status == 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;  // the destructor kills the overdue systemctl
  }
  return false;
}

}  // namespace norvo::platform
