// Running a tool of the system to its end: started from an argument vector
// (never through a shell, so no name or path given to it is ever parsed as a
// command), its output collected, and stopped when it overstays. The cleanup
// runs Homebrew and xcrun this way, the uninstaller flatpak, and
// the agent set-up the Claude Code program and the owner's login shell.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace norvo::platform {

struct ToolRun {
  bool started = false;
  std::string error;      // why it could not be started (empty when it was)
  bool timedOut = false;  // stopped at the time limit
  int exitStatus = -1;    // its exit status, 128 + N when signal N ended it
  std::string output;     // standard output and error together, cut at the limit

  bool succeeded() const { return started && !timedOut && exitStatus == 0; }
};

// Starts `argv` (argv[0] a path, or a name looked up on PATH when it holds no
// "/") with standard input from /dev/null, `environment` ("NAME=VALUE"
// entries) added to this process's own, and standard output and error on
// one pipe. Waits for it for at most `limit`; a tool still running then is
// sent SIGTERM, and SIGKILL a second later, with every process it started in
// its process group. Keeps at most `maxOutput` bytes of output. Blocks for at
// most `limit` plus about a second.
ToolRun runTool(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                std::chrono::duration<double> limit, size_t maxOutput = 1024 * 1024);

}  // namespace norvo::platform
