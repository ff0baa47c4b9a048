// `zemnorvo hook` as Claude Code runs it: one event on standard input, and
// whatever happens the exit status is 0 and standard output holds nothing but
// an answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "child_process.hpp"
#include "cli/bounded_read.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

int exitCode(std::optional<int> status) {
  if (!status) return -1000;  // did not exit in time
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : -WTERMSIG(*status);
}

TEST(HookCommand, ExitsCleanlyOnEveryInputWithoutAStatusSource) {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(test::fixture("hooks")))
    inputs.emplace_back(entry.path().filename().string(), test::readFile(entry.path()));
  inputs.emplace_back("empty", "");
  inputs.emplace_back("binary", std::string("\x00\xff\xfe\x01", 4));
  inputs.emplace_back("array", "[{\"hook_event_name\":\"SessionStart\"}]");
  inputs.emplace_back("oversized", "{\"hook_event_name\":\"SessionStart\",\"pad\":\"" +
                                       std::string(2 * 1024 * 1024, 'x') + "\"}");
  for (const auto& [name, input] : inputs) {
    test::ChildProcess child({NORVO_CLI_PATH, "hook"});
    child.write(input);
    child.closeStdin();
    auto out = child.readRest(5s);
    EXPECT_EQ(exitCode(child.wait(5s)), 0) << name;
    // No status can be had yet, so nothing may be printed, not even a blank line.
    EXPECT_EQ(out, "") << name;
  }
}

TEST(HookCommand, AnInputThatNeverEndsDoesNotHoldTheAgentUp) {
  test::ChildProcess child({NORVO_CLI_PATH, "hook", "--unknown-future-flag"});
  child.write("{\"hook_event_name\":\"SessionStart\"");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(exitCode(child.wait(4s)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

class BoundedReadTest : public testing::Test {
 protected:
  BoundedReadTest() {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe");
  }
  ~BoundedReadTest() override {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  void put(const std::string& s) {
    ASSERT_EQ(::write(fds_[1], s.data(), s.size()), (ssize_t)s.size());
  }
  void endInput() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(BoundedReadTest, ReadsToTheEnd) {
  put("abc");
  put("def");
  endInput();
  auto r = cli::readBounded(fds_[0], 100, 1000ms);
  EXPECT_EQ(r.data, "abcdef");
  EXPECT_TRUE(r.complete);
  EXPECT_FALSE(r.tooLarge);
}

TEST_F(BoundedReadTest, StopsAtTheCap) {
  put(std::string(10, 'x'));
  auto r = cli::readBounded(fds_[0], 4, 1000ms);
  EXPECT_EQ(r.data, "xxxx");
  EXPECT_TRUE(r.tooLarge);
  EXPECT_FALSE(r.complete);
}

TEST_F(BoundedReadTest, ExactlyTheCapIsComplete) {
  put("1234");
  endInput();
  auto r = cli::readBounded(fds_[0], 4, 1000ms);
  EXPECT_EQ(r.data, "1234");
  EXPECT_TRUE(r.complete);
  EXPECT_FALSE(r.tooLarge);
}

TEST_F(BoundedReadTest, GivesUpAfterTheTimeoutWithWhatArrived) {
  put("partial");
  auto start = std::chrono::steady_clock::now();
  auto r = cli::readBounded(fds_[0], 100, 150ms);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.data, "partial");
  EXPECT_FALSE(r.complete);
  EXPECT_GE(took, 140ms);
  EXPECT_LT(took, 2s);
}

}  // namespace
}  // namespace norvo
