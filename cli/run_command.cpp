// `zemnorvo run [--] COMMAND ARGS…`: runs a build inside the machine-wide
// build-token pool and becomes it (exec), so its exit status is the build's.
// For agents and the owner alike: it only narrows what the build may run.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.hpp"
#include "core/jobserver/build_command.hpp"
#include "core/platform/jobserver_fifo.hpp"

namespace norvo::cli {

namespace {

[[noreturn]] void execute(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  ::execvp(argv[0], argv.data());
  int error = errno;
  std::fprintf(stderr, "zemnorvo run: cannot run %s: %s\n", args[0].c_str(), std::strerror(error));
  throw CLI::RuntimeError(error == ENOENT ? 127 : 126);
}

[[noreturn]] void unchanged(const std::vector<std::string>& args, const std::string& why) {
  std::fprintf(stderr, "zemnorvo run: %s; running the command unchanged\n", why.c_str());
  execute(args);
}

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// Whether `cmake --build DIR` builds a folder generated for Ninja.
bool cmakeOverNinja(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] != "--build") continue;
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(args[i + 1]) / "build.ninja", ec);
  }
  return false;
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
  return out;
}

void runInPool(std::vector<std::string> args) {
  if (!args.empty() && args.front() == "--") args.erase(args.begin());
  if (args.empty()) {
    std::fprintf(stderr, "zemnorvo run: no command given\n");
    throw CLI::RuntimeError(2);
  }
  auto path = platform::jobserverPath();
  if (!path) unchanged(args, "no build pool (XDG_RUNTIME_DIR is not set)");
  platform::JobserverFifo::Outcome outcome;
  std::string error;
  auto fifo = platform::JobserverFifo::join(*path, outcome, error);
  using Outcome = platform::JobserverFifo::Outcome;
  if (!fifo && (outcome == Outcome::missing || outcome == Outcome::notKept))
    unchanged(args, "no build pool is kept (zemnorvo watch keeps it)");
  if (!fifo) unchanged(args, "not joining the build pool: " + error);
  if (!fifo->inheritable(error)) unchanged(args, "cannot pass on the build pool: " + error);

  auto plan =
      jobserver::planBuild(args, environment("CMAKE_BUILD_PARALLEL_LEVEL"), cmakeOverNinja(args),
                           static_cast<int64_t>(std::thread::hardware_concurrency()) + 2);
  if (!plan.removed.empty())
    std::fprintf(stderr, "zemnorvo run: removed %s, which would take the build out of the pool\n",
                 joined(plan.removed).c_str());
  for (const char* name : {"MAKEFLAGS", "CARGO_MAKEFLAGS"})
    ::setenv(name, jobserver::mergeMakeflags(environment(name).value_or(""), fifo->fd()).c_str(),
             1);
  if (plan.dropCmakeParallelLevel) ::unsetenv("CMAKE_BUILD_PARALLEL_LEVEL");
  if (!plan.ownThreads) execute(plan.argv);

  // No jobserver in this tool: it runs as many jobs as tokens it could take
  // now, plus the one every client has, and holds them until it ends.
  int64_t taken = fifo->takeWithoutWaiting(*plan.ownThreads - 1);
  if (taken > 0 && !fifo->returnAtExit(taken, error)) {
    std::string ignored;
    fifo->put(taken, ignored);
    std::fprintf(stderr, "zemnorvo run: %s\n", error.c_str());
    taken = 0;
  }
  std::fprintf(stderr,
               "zemnorvo run: %s honours no jobserver; it runs %lld jobs, the tokens free now\n",
               args[0].c_str(), static_cast<long long>(taken + 1));
  execute(jobserver::withThreads(plan, taken + 1));
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
  try {
    runInPool(args);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo run: %s\n", e.what());
    return 1;
  }
  return 0;
}

void addRunCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "run", "Run a build inside the machine-wide build-token pool: zemnorvo run -- make …");
  cmd->prefix_command();
  cmd->callback([cmd] { runInPool(cmd->remaining()); });
}

}  // namespace norvo::cli
