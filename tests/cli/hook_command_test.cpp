// `zemnorvo hook` as Claude Code runs it: one event on standard input, and
// whatever happens the exit status is 0 and standard output holds nothing but
// an answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.hpp"
#include "cli/bounded_read.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

// The loop's fresh status.json decides the level the hook speaks from.
void publishLevel(LoadLevel level, const std::filesystem::path& store) {
  NorvoSnapshot snapshot;
  snapshot.metrics.timestamp = std::chrono::system_clock::now();
  snapshot.metrics.volumes = {{"/", "/", 100ll << 30, 50ll << 30}};
  snapshot.assessment.level = level;
  snapshot.assessment.advice = {"Advice for the level."};
  NorvoStore::saveStatus(snapshot, store);
}

TEST(HookCommand, AnswersFromTheStatusAndNeverBlocksATool) {
  test::FreshHome home;
  struct Case {
    LoadLevel level;
    const char* fixture;
    bool speaks;
  };
  // Which event speaks at which level is ClaudeHook's table; here only that
  // the command reads the level from the loop's status, both ways.
  const Case cases[] = {
      {LoadLevel::ok, "session_start.json", true},
      {LoadLevel::ok, "pre_tool_use_bash.json", false},
      {LoadLevel::critical, "pre_tool_use_bash.json", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " at " + std::string(rawValue(c.level)));
    publishLevel(c.level, home.store());
    auto ran = test::zemnorvo({"hook"}, test::readFile(test::fixture("hooks") / c.fixture));
    EXPECT_EQ(ran.status, 0);
    if (!c.speaks) {
      EXPECT_EQ(ran.out, "");
      continue;
    }
    auto answer = nlohmann::json::parse(ran.out, nullptr, false)["hookSpecificOutput"];
    EXPECT_FALSE(answer["additionalContext"].get<std::string>().empty()) << ran.out;
    EXPECT_FALSE(answer.contains("permissionDecision")) << ran.out;
  }
}

TEST(HookCommand, MalformedOrEndlessInputPrintsNothingAndExitsZero) {
  test::FreshHome home;
  publishLevel(LoadLevel::critical, home.store());
  for (const std::string& input : {std::string(), std::string("\x00\xff\xfe\x01", 4),
                                   "{\"hook_event_name\":\"SessionStart\",\"pad\":\"" +
                                       std::string(2 * 1024 * 1024, 'x') + "\"}"}) {
    auto ran = test::zemnorvo({"hook"}, input);
    EXPECT_EQ(ran.status, 0) << input.substr(0, 40);
    EXPECT_EQ(ran.out, "") << input.substr(0, 40);
  }
  // An input that never ends, with arguments of a later Claude Code.
  test::ChildProcess child({test::cliPath(), "hook", "--unknown-future-flag"});
  child.write("{\"hook_event_name\":\"SessionStart\"");
  EXPECT_EQ(child.wait(4s), 0);
}

TEST(BoundedRead, StopsAtTheEndTheCapOrTheTimeout) {
  struct Case {
    std::string input;
    bool endInput;
    size_t cap;
    std::string data;
    bool complete, tooLarge;
  };
  const Case cases[] = {
      {"abcdef", true, 100, "abcdef", true, false},
      {std::string(10, 'x'), false, 4, "xxxx", false, true},
      {"1234", true, 4, "1234", true, false},  // exactly the cap is complete
      {"partial", false, 100, "partial", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
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
