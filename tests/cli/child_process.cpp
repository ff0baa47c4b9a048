#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace norvo::test {

namespace {

// Waits up to the time left before `deadline` for `fd` and appends one read
// of it to `buffer`; false when nothing came.
bool readMore(int fd, std::string& buffer, std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0 || fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[65536];
  ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer.append(chunk, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

std::optional<std::string> readLine(int fd, std::string& buffer,
                                    std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto newline = buffer.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer.substr(0, newline);
      buffer.erase(0, newline + 1);
      return line;
    }
    if (!readMore(fd, buffer, deadline)) return std::nullopt;
  }
}

void readAll(int fd, std::string& buffer, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (readMore(fd, buffer, deadline)) {
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
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(stdin_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::sigaction(SIGPIPE, &old, nullptr);
}

void ChildProcess::closeStdin() {
  if (stdin_ >= 0) ::close(stdin_);
  stdin_ = -1;
}

void ChildProcess::closeStdout() {
  if (stdout_ >= 0) ::close(stdout_);
  stdout_ = -1;
}

void ChildProcess::signal(int sig) { ::kill(pid_, sig); }

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  return test::readLine(stdout_, buffer_, timeout);
}

std::string ChildProcess::readRest(std::chrono::milliseconds timeout) {
  readAll(stdout_, buffer_, timeout);
  std::string rest;
  rest.swap(buffer_);
  return rest;
}

std::string ChildProcess::readErrors(std::chrono::milliseconds timeout) {
  std::string errors;
  readAll(stderr_, errors, timeout);
  return errors;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return status;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace norvo::test
