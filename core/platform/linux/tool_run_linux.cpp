#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "core/platform/tool_run.hpp"

extern char** environ;

namespace norvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

// This process's environment with `extra` put over it, name by name.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> byName;
  std::vector<std::string> order;
  auto put = [&](const std::string& entry) {
    auto name = entry.substr(0, entry.find('='));
    if (!byName.count(name)) order.push_back(name);
    byName[name] = entry;
  };
  for (char** e = environ; e && *e; ++e) put(*e);
  for (const auto& e : extra) put(e);
  std::vector<std::string> out;
  for (const auto& name : order) out.push_back(byName[name]);
  return out;
}

int waitStatus(pid_t pid, bool block) {
  int raw = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &raw, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return -1;
  if (r < 0) return 128;  // reaped elsewhere; its status is lost
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                std::chrono::duration<double> limit, size_t maxOutput) {
  ToolRun run;
  if (argv.empty()) {
    run.error = "no program to start";
    return run;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  auto env = mergedEnvironment(environment);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    run.error = std::strerror(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  // A group of its own, so that what the tool starts stops with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  bool searchPath = argv[0].find('/') == std::string::npos;
  int rc = searchPath
               ? ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data())
               : ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    run.error = std::strerror(rc);
    return run;
  }
  run.started = true;

  auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
  char buffer[16384];
  bool open = true;
  int status = -1;
  while (status < 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) {
      run.timedOut = true;
      break;
    }
    if (open) {
      pollfd p{fds[0], POLLIN, 0};
      int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 200)));
      if (ready > 0) {
        ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          open = false;  // everything holding the pipe closed it
        } else if (run.output.size() < maxOutput) {
          run.output.append(buffer,
                            std::min(static_cast<size_t>(n), maxOutput - run.output.size()));
        }
      }
    } else {
      ::poll(nullptr, 0, static_cast<int>(std::min<int64_t>(left.count(), 50)));
    }
    status = waitStatus(pid, false);
  }
  if (run.timedOut) {
    ::kill(-pid, SIGTERM);
    auto grace = Clock::now() + std::chrono::seconds(1);
    while ((status = waitStatus(pid, false)) < 0 && Clock::now() < grace) ::poll(nullptr, 0, 20);
    if (status < 0) {
      ::kill(-pid, SIGKILL);
      status = waitStatus(pid, true);
    }
  } else {
    // The tool ended; take what it wrote last without waiting for children
    // that may still hold the pipe.
    for (;;) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0) break;
      ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      if (run.output.size() < maxOutput)
        run.output.append(buffer, std::min(static_cast<size_t>(n), maxOutput - run.output.size()));
    }
  }
  ::close(fds[0]);
  run.exitStatus = status;
  return run;
}

}  // namespace norvo::platform
