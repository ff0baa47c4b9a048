// Running an outside program to its end and collecting what it printed, for
// the tools the product drives on the owner's behalf (the Claude Code program,
// the owner's login shell). Started from an argument vector, never through a
// shell with text pasted in, and never waited on past a deadline.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace norvo::platform {

struct ProgramRun {
  // The exit status; 128 + N when signal N ended it; -1 when it could not be
  // started or had to be killed at the deadline.
  int status = -1;
  // Standard output and standard error joined, as raw bytes (at most
  // `maxOutputBytes`, the rest read and dropped). When it could not be
  // started: "cannot run " and the program's path.
  std::string output;
  bool timedOut = false;
};

// Runs argv[0] (a path) with standard input from /dev/null, in a process
// group of its own so that whatever it starts ends with it at the deadline.
// Never throws.
ProgramRun runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                      size_t maxOutputBytes = 64 * 1024);

}  // namespace norvo::platform
