// Real processes for tests: start programs under chosen names (the names agents
// and apps have) and make sure every one of them, and whatever they started, is
// killed and reaped by pid when the test ends, whatever its outcome. The guard
// makes the test process a sub-reaper so that processes orphaned on purpose
// come back to it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/child_process.hpp"
#include "core/measure/process_table.hpp"
#include "core/platform/process_source.hpp"

extern char** environ;

namespace norvo::test {

namespace fs = std::filesystem;

// Kills and reaps, by pid, what the test started and whatever descends from it.
class Processes {
 public:
  Processes() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
  ~Processes() {
    auto source = platform::makeProcessSource(platform::Roots::system());
    std::set<int32_t> doomed(started_.begin(), started_.end());
    for (bool grew = true; grew;) {
      grew = false;
      for (int32_t pid : source->allPids()) {
        auto b = source->basics(pid);
        if (b && !doomed.count(pid) && (doomed.count(b->ppid) || b->ppid == ::getpid()))
          grew = doomed.insert(pid).second;
      }
    }
    for (int32_t pid : doomed) ::kill(pid, SIGKILL);
    for (int32_t pid : doomed) ::waitpid(pid, nullptr, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  }
  Processes(const Processes&) = delete;
  Processes& operator=(const Processes&) = delete;

  // Starts `program` named argv[0], its output discarded; -1 when it cannot.
  // Spawned, not forked: the program has its name by the time this returns.
  pid_t start(const std::vector<std::string>& argv, const fs::path& program) {
    auto args = argvOf(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? started_.emplace_back(pid) : -1;
  }

  // Starts `program` as user `uid` (only possible as root); -1 otherwise.
  pid_t startAs(uid_t uid, const std::vector<std::string>& argv, const fs::path& program) {
    if (::geteuid() != 0) return -1;
    auto args = argvOf(argv);
    pid_t pid = ::fork();
    if (pid == 0) {
      if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) ::_exit(127);
      ::execv(program.c_str(), args.data());
      ::_exit(127);
    }
    if (pid > 0) started_.push_back(pid);
    return pid;
  }

 private:
  static std::vector<char*> argvOf(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
  }

  std::vector<pid_t> started_;
};

// Reads `table` until `ready` holds, for up to 15 seconds (slow machines start
// programs slowly).
inline ProcessReadings readUntil(ProcessTable& table,
                                 const std::function<bool(const ProcessReadings&)>& ready) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (;;) {
    auto readings = table.read(std::chrono::seconds(5));
    if (ready(readings) || std::chrono::steady_clock::now() > until) return readings;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

inline std::optional<int32_t> childOf(const ProcessReadings& readings, int32_t parent,
                                      std::string_view name) {
  for (const auto& [pid, r] : readings)
    if (r.ppid == parent && r.name == name) return pid;
  return std::nullopt;
}

}  // namespace norvo::test
