// How a build command joins the shared token pool, as plain text: which
// parallelism flags would make a tool leave the pool, the MAKEFLAGS that let
// it in, and which shell commands an agent runs are builds at all.
//
// A `-j`, `-jN`, `-j N`, `--jobs[=N]` or a cluster such as `-sj8` on make's
// command line makes it leave the jobserver ("-jN forced in submake:
// resetting jobserver mode"), and `cmake --build -j N`, `--parallel` and
// CMAKE_BUILD_PARALLEL_LEVEL pass such a flag on; those are removed. Tools
// that honour no jobserver (the Ninja 1.11 of Debian 12, so also `cmake
// --build` over Ninja) instead get an explicit thread count: the tokens the
// caller could take plus its implicit one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::jobserver {

struct BuildPlan {
  std::vector<std::string> argv;     // the command without its parallelism flags
  std::vector<std::string> removed;  // what was removed, for the one note
  bool dropCmakeParallelLevel = false;
  // For a tool that honours no jobserver: the threads it asked for (its -j,
  // else `defaultThreads`); the caller takes tokens up to this and runs it
  // through withThreads(). Absent for jobserver clients.
  std::optional<int64_t> ownThreads;
};

// The plan for `argv` (argv[0] a program name or path). `cmakeParallelLevel`
// is CMAKE_BUILD_PARALLEL_LEVEL when set; `cmakeOverNinja` says whether a
// `cmake --build` folder was generated for Ninja; `defaultThreads` is what a
// Ninja without -j would run. Commands that are no known build pass unchanged.
BuildPlan planBuild(const std::vector<std::string>& argv,
                    const std::optional<std::string>& cmakeParallelLevel, bool cmakeOverNinja,
                    int64_t defaultThreads);

// The plan's command set to run `threads` jobs (for plans with ownThreads).
std::vector<std::string> withThreads(const BuildPlan& plan, int64_t threads);

// MAKEFLAGS (or CARGO_MAKEFLAGS) that make a client of the pool on
// descriptor `fd` (one read-write descriptor used as both ends, which make
// 4.3, cargo and gcc's -flto=jobserver accept), keeping the caller's other
// flags and variable assignments and dropping any earlier -j or jobserver.
std::string mergeMakeflags(std::string_view existing, int fd);

// True when the shell command line runs a build somewhere in it: make,
// ninja, `cmake --build`, `cargo build|test|b|t|run|bench|check`, or a
// compiler with -flto.
bool startsBuild(std::string_view shellCommand);

// The shell command rewritten to run through the pool, only where that is
// one plain build command (no pipes, lists, substitutions, redirections or
// leading variable assignments, which a prefix would change the meaning of);
// absent otherwise.
std::optional<std::string> throughPool(std::string_view shellCommand);

// The sentence agents read while the pool is live.
std::string poolAdvice();

}  // namespace norvo::jobserver
