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
  // Which event speaks at which level is ClaudeHook's table; here only that
  // the command reads the level from the loop's status, both ways.
  auto event = test::readFile(test::fixture("hooks/pre_tool_use_bash.json"));
  publishLevel(LoadLevel::ok, home.store());
  auto quiet = test::zemnorvo({"hook"}, event);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  publishLevel(LoadLevel::critical, home.store());
  auto ran = test::zemnorvo({"hook"}, event);
  EXPECT_EQ(ran.status, 0);
  auto answer = nlohmann::json::parse(ran.out, nullptr, false)["hookSpecificOutput"];
  EXPECT_FALSE(answer["additionalContext"].get<std::string>().empty()) << ran.out;
  EXPECT_FALSE(answer.contains("permissionDecision")) << ran.out;

  // At a level that speaks, malformed or endless input still gets nothing and
  // status 0. Empty and binary events fail the parse ClaudeHook's table checks; an
  // event past the size limit is not answered.
  auto huge = test::zemnorvo({"hook"}, "{\"hook_event_name\":\"SessionStart\",\"pad\":\"" +
                                           std::string(2 * 1024 * 1024, 'x') + "\"}");
  EXPECT_EQ(huge.status, 0);
  EXPECT_EQ(huge.out, "");
  // An input that never ends, with arguments of a later Claude Code.
  test::ChildProcess child({test::cliPath(), "hook", "--unknown-future-flag"});
  child.write("{\"hook_event_name\":\"SessionStart\"");
  EXPECT_EQ(child.wait(4s), 0);
}

}  // namespace
}  // namespace norvo
