// Runs the built `zemnorvo` as a child with its standard streams on pipes, so
// tests see exactly what a caller such as Claude Code sees, each test in a
// home and data folder of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace norvo::test {

// The first line in `buffer`, without its line feed, reading more from `fd`
// into it as needed; absent when `fd` ends or `timeout` passes first.
std::optional<std::string> readLine(int fd, std::string& buffer, std::chrono::milliseconds timeout);

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
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
  // The exit code once the child exited within `timeout`, -signal when a
  // signal ended it; the child is killed and absent returned otherwise.
  std::optional<int> wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  std::string buffer_;
};

struct Ran {
  std::optional<int> status;  // as ChildProcess::wait
  std::string out, errors;
};
// Runs `args` with `input` on standard input to its end, for up to `timeout`.
Ran run(const std::vector<std::string>& args, const std::string& input = "",
        std::chrono::milliseconds timeout = std::chrono::seconds(60));
// `zemnorvo` with `args`.
Ran zemnorvo(const std::vector<std::string>& args, const std::string& input = "");
// `zemnorvo` with `arguments` (shell words) run by a shell copied into `folder`
// under the name "claude", so that an agent is among its ancestors; what it
// wrote to standard output and error.
std::string zemnorvoAsAgent(const std::filesystem::path& folder, const std::string& arguments);
// Copies the program `from` to `to` (folders made), so it runs under that name.
std::filesystem::path copyProgram(const std::filesystem::path& from,
                                  const std::filesystem::path& to);

// While it lives, the children this process starts get HOME, XDG_DATA_HOME
// and XDG_RUNTIME_DIR in a fresh folder, so no test sees another's store; store() is their store.
class FreshHome {
 public:
  FreshHome();
  const std::filesystem::path& store() const { return store_; }
  const std::filesystem::path& home() const { return dir_.path(); }
  const std::filesystem::path& data() const { return data_; }

 private:
  TempDir dir_;
  // runtime_: XDG_RUNTIME_DIR, where the loop keeps the build pool.
  std::filesystem::path data_, store_, runtime_;
  std::optional<ScopedEnv> home_, dataHome_, runtimeDir_;
};

// `zemnorvo mcp` as a child, initialized as an agent's client does it.
class AgentServer {
 public:
  AgentServer();
  ~AgentServer();
  nlohmann::json call(const std::string& method, const nlohmann::json& params);
  // The result of tools/call.
  nlohmann::json tool(const std::string& name, const nlohmann::json& arguments);
  // The next message, null when none came within 20 seconds or it was not JSON.
  nlohmann::json read();

  ChildProcess child;

 private:
  int id_ = 0;
};

}  // namespace norvo::test
