#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/platform/child_process.hpp"

extern char** environ;

namespace norvo::platform {

std::optional<ChildProcess> ChildProcess::spawn(const std::vector<std::string>& argv,
                                                std::string& error) {
  if (argv.empty()) {
    error = "no program to start";
    return std::nullopt;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error = "cannot start " + argv[0] + ": " + std::strerror(rc);
    return std::nullopt;
  }
  return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), started_(other.started_), status_(other.status_) {
  other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (pid_ > 0) kill();
    pid_ = other.pid_;
    started_ = other.started_;
    status_ = other.status_;
    other.pid_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) kill();
}

std::optional<int> ChildProcess::poll() {
  if (pid_ <= 0) return status_;
  int raw = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &raw, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return std::nullopt;
  pid_ = -1;
  // ECHILD: someone else reaped it (SIGCHLD ignored); its status is lost.
  status_ = r < 0 ? 128 : WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

void ChildProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  status_ = 128 + SIGKILL;
  pid_ = -1;
}

std::optional<std::string> ownExecutable() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return path.string();
}

}  // namespace norvo::platform
