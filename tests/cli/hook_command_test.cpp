// `zemnorvo hook` as Claude Code runs it: one event on standard input, and
// whatever happens the exit status is 0 and standard output holds nothing but
// an answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "child_process.hpp"
#include "cli/bounded_read.hpp"
#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

int exitCode(std::optional<int> status) {
  if (!status) return -1000;  // did not exit in time
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : -WTERMSIG(*status);
}

// The loop's fresh status.json decides the level the hook speaks from.
void publishLevel(LoadLevel level) {
  NorvoSnapshot snapshot;
  snapshot.metrics.timestamp = std::chrono::system_clock::now();
  snapshot.metrics.volumes = {{"/", "/", 100ll << 30, 50ll << 30}};
  snapshot.assessment.level = level;
  snapshot.assessment.recommendedParallelJobs = level == LoadLevel::ok ? 2 : 0;
  snapshot.assessment.advice = {"Advice for the level."};
  NorvoStore::saveStatus(snapshot);
}

std::string runHook(const std::string& input) {
  test::ChildProcess child({NORVO_CLI_PATH, "hook"});
  child.write(input);
  child.closeStdin();
  auto out = child.readRest(5s);
  EXPECT_EQ(exitCode(child.wait(5s)), 0);
  return out;
}

TEST(HookCommand, AnswersEachEventFromTheStatusAndNeverBlocks) {
  std::map<std::string, std::string> events;
  for (const auto& entry : std::filesystem::directory_iterator(test::fixture("hooks")))
    events[entry.path().filename().string()] = test::readFile(entry.path());
  const std::set<std::string> speaksWhenOk = {"session_start.json"};
  const std::set<std::string> speaksWhenCritical = {
      "session_start.json", "user_prompt_submit.json", "pre_tool_use_bash.json",
      "pre_tool_use_task.json", "pre_tool_use_agent.json"};
  for (auto level : {LoadLevel::ok, LoadLevel::critical}) {
    publishLevel(level);
    const auto& speaks = level == LoadLevel::ok ? speaksWhenOk : speaksWhenCritical;
    for (const auto& [name, input] : events) {
      auto out = runHook(input);
      SCOPED_TRACE(name + " at " + std::string(rawValue(level)));
      if (!speaks.count(name)) {
        EXPECT_EQ(out, "");
        continue;
      }
      auto answer = nlohmann::json::parse(out, nullptr, false);
      ASSERT_TRUE(answer.is_object()) << out;
      EXPECT_FALSE(answer["hookSpecificOutput"].contains("permissionDecision"));
      auto context = answer["hookSpecificOutput"]["additionalContext"].get<std::string>();
      EXPECT_FALSE(context.empty());
      if (name.rfind("pre_tool_use", 0) == 0) {
        EXPECT_NE(context.find("Warning"), std::string::npos) << context;
      }
    }
  }
}

TEST(HookCommand, MalformedInputPrintsNothingAndExitsZero) {
  publishLevel(LoadLevel::critical);
  for (const std::string& input : {std::string(), std::string("\x00\xff\xfe\x01", 4),
                                   std::string("[{\"hook_event_name\":\"SessionStart\"}]"),
                                   "{\"hook_event_name\":\"SessionStart\",\"pad\":\"" +
                                       std::string(2 * 1024 * 1024, 'x') + "\"}"})
    EXPECT_EQ(runHook(input), "") << input.substr(0, 40);
}

TEST(HookCommand, AnInputThatNeverEndsDoesNotHoldTheAgentUp) {
  test::ChildProcess child({NORVO_CLI_PATH, "hook", "--unknown-future-flag"});
  child.write("{\"hook_event_name\":\"SessionStart\"");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(exitCode(child.wait(4s)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

TEST(BoundedRead, StopsAtTheEndTheCapOrTheTimeout) {
  struct Case {
    const char* what;
    std::string input;
    bool endInput;
    size_t cap;
    std::string data;
    bool complete, tooLarge;
  };
  const Case cases[] = {
      {"to the end", "abcdef", true, 100, "abcdef", true, false},
      {"at the cap", std::string(10, 'x'), false, 4, "xxxx", false, true},
      {"exactly the cap is complete", "1234", true, 4, "1234", true, false},
      {"what arrived before the timeout", "partial", false, 100, "partial", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], c.input.data(), c.input.size()), ssize_t(c.input.size()));
    if (c.endInput) ::close(fds[1]);
    auto start = std::chrono::steady_clock::now();
    auto r = cli::readBounded(fds[0], c.cap, 150ms);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.data, c.data);
    EXPECT_EQ(r.complete, c.complete);
    EXPECT_EQ(r.tooLarge, c.tooLarge);
    // Only a read that neither ended nor filled up waits out the timeout.
    if (!c.complete && !c.tooLarge) {
      EXPECT_GE(took, 140ms);
    }
    EXPECT_LT(took, 2s);
    ::close(fds[0]);
    if (!c.endInput) ::close(fds[1]);
  }
}

}  // namespace
}  // namespace norvo
