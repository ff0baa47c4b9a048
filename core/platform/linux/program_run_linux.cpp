#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/platform/program_run.hpp"

extern char** environ;

namespace norvo::platform {

namespace {

// Kills the whole group: a login shell or a Node.js launcher leaves children
// that hold the pipe open, and they must not outlive the deadline either.
// Called only while the leader is not yet reaped, so the group id is still ours.
void killGroup(pid_t pid) { ::kill(-pid, SIGKILL); }

int reap(pid_t pid) {
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return 128;  // reaped elsewhere (SIGCHLD ignored)
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                      size_t maxOutputBytes) {
  ProgramRun run;
  if (argv.empty()) {
    run.output = "cannot run ";
    return run;
  }
  auto cannotRun = [&] {
    run.status = -1;
    run.output = "cannot run " + argv[0];
    return run;
  };
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return cannotRun();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return cannotRun();
  }

  // Read until every holder of the pipe has closed it, or the deadline.
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[8192];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t room = maxOutputBytes - std::min(maxOutputBytes, run.output.size());
    run.output.append(buffer, std::min(room, static_cast<size_t>(n)));
  }
  ::close(fds[0]);

  if (!run.timedOut) {
    // The output ended; the program itself may still be busy. It gets the
    // rest of the time. Its exit is only looked at here, not collected, so
    // that its pid (and with it the group id) cannot be reused before the
    // group is killed below.
    for (;;) {
      siginfo_t info{};
      int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
      if (r == 0 && info.si_pid == pid) {
        run.status = reap(pid);
        return run;
      }
      if (r < 0 && errno != EINTR) {
        run.status = 128;
        return run;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        run.timedOut = true;
        break;
      }
      ::usleep(10000);
    }
  }
  killGroup(pid);
  reap(pid);
  run.status = -1;
  return run;
}

}  // namespace norvo::platform
