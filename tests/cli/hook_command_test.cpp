// `zemnorvo hook` as Claude Code runs it: one event on standard input, and
// whatever happens the exit status is 0 and standard output holds nothing but
// an answer.
#include <gtest/gtest.h>

#include "child_process.hpp"
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

}  // namespace
}  // namespace norvo
