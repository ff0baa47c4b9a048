#include "cli/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "core/platform/store_directory.hpp"

extern char** environ;

namespace norvo::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Waits up to `deadline` for `fd` and appends one read of it to `buffer`;
// false when nothing came.
bool readMore(int fd, std::string& buffer, Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  pollfd p{fd, POLLIN, 0};
  if (left.count() <= 0 || fd < 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
    return false;
  char chunk[65536];
  ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer.append(chunk, static_cast<std::size_t>(n));
  return true;
}

void readAll(int fd, std::string& buffer, std::chrono::milliseconds timeout) {
  for (auto deadline = Clock::now() + timeout; readMore(fd, buffer, deadline);) {
  }
}

}  // namespace

std::optional<std::string> readLine(int fd, std::string& buffer,
                                    std::chrono::milliseconds timeout) {
  for (auto deadline = Clock::now() + timeout;;) {
    if (auto newline = buffer.find('\n'); newline != std::string::npos) {
      std::string line = buffer.substr(0, newline);
      buffer.erase(0, newline + 1);
      return line;
    }
    if (!readMore(fd, buffer, deadline)) return std::nullopt;
  }
}

ChildProcess::ChildProcess(const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  stdin_ = in[1];
  stdout_ = out[0];
  stderr_ = err[0];
  if (rc != 0) throw std::runtime_error("posix_spawn failed");
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {stdin_, stdout_, stderr_})
    if (fd >= 0) ::close(fd);
}

void ChildProcess::write(const std::string& bytes) {
  // The child may have gone; a test about that must not die of SIGPIPE.
  auto old = ::signal(SIGPIPE, SIG_IGN);
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(stdin_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::signal(SIGPIPE, old);
}

void ChildProcess::closeStdin() { ::close(std::exchange(stdin_, -1)); }

void ChildProcess::closeStdout() { ::close(std::exchange(stdout_, -1)); }

void ChildProcess::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  return test::readLine(stdout_, buffer_, timeout);
}

std::string ChildProcess::readRest(std::chrono::milliseconds timeout) {
  readAll(stdout_, buffer_, timeout);
  return std::exchange(buffer_, {});
}

std::string ChildProcess::readErrors(std::chrono::milliseconds timeout) {
  std::string errors;
  readAll(stderr_, errors, timeout);
  return errors;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  // Already reaped: waitpid(-1) would reap another child, and the kill on
  // timeout would be kill(-1), every process of the user.
  if (pid_ <= 0) return std::nullopt;
  for (auto deadline = Clock::now() + timeout;; std::this_thread::sleep_for(5ms)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    if (Clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return std::nullopt;
    }
  }
}

Ran run(const std::vector<std::string>& args, const std::string& input,
        std::chrono::milliseconds timeout) {
  ChildProcess child(args);
  child.write(input);
  child.closeStdin();
  Ran ran;  // the commands tested here write little to standard error
  ran.out = child.readRest(timeout);
  ran.errors = child.readErrors(5s);
  ran.status = child.wait(5s);
  return ran;
}

Ran zemnorvo(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> all{test::cliPath()};
  all.insert(all.end(), args.begin(), args.end());
  return run(all, input);
}

std::string zemnorvoAsAgent(const std::filesystem::path& folder, const std::string& arguments) {
  auto agent = copyProgram("/bin/sh", folder / "claude");
  // "; true" keeps the shell, and so the agent, among the tool's ancestors.
  return run({agent.string(), "-c",
              "'" + std::string(test::cliPath()) + "' " + arguments + " 2>&1; true"})
      .out;
}

std::filesystem::path copyProgram(const std::filesystem::path& from,
                                  const std::filesystem::path& to) {
  namespace fs = std::filesystem;
  fs::create_directories(to.parent_path());
  fs::copy_file(fs::canonical(from), to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
  return to;
}

FreshHome::FreshHome()
    : data_(dir_.path() / "data"),
      store_(NorvoStore::directoryFor(data_.c_str(), dir_.path().c_str())),
      runtime_(dir_.path() / "runtime") {
  // This process computes its own store once, on first use: let that be the
  // run's store, not this one.
  (void)NorvoStore::directory();
  home_.emplace("HOME", dir_.path());
  dataHome_.emplace("XDG_DATA_HOME", data_);
  std::filesystem::create_directory(runtime_);
  std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
  runtimeDir_.emplace("XDG_RUNTIME_DIR", runtime_);
}

AgentServer::AgentServer() : child({test::cliPath(), "mcp"}) {
  call("initialize", {{"protocolVersion", "2025-11-25"},
                      {"capabilities", nlohmann::json::object()},
                      {"clientInfo", {{"name", "test"}, {"version", "1"}}}});
  child.write("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n");
}

AgentServer::~AgentServer() {
  child.closeStdin();
  child.wait(10s);
}

nlohmann::json AgentServer::call(const std::string& method, const nlohmann::json& params) {
  child.write(
      nlohmann::json{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}
          .dump() +
      "\n");
  return read();
}

nlohmann::json AgentServer::tool(const std::string& name, const nlohmann::json& arguments) {
  return call("tools/call", {{"name", name}, {"arguments", arguments}})["result"];
}

nlohmann::json AgentServer::read() {
  auto line = child.readLine(20s);
  auto parsed = line ? nlohmann::json::parse(*line, nullptr, false) : nlohmann::json();
  return parsed.is_discarded() ? nlohmann::json() : parsed;
}

}  // namespace norvo::test
