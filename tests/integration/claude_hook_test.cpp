#include "core/integration/claude_hook.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo::claude_hook {
namespace {

Status statusAt(const std::string& level) {
  return {.level = level, .summary = "Load " + level + ": CPU 90%.", .advice = "Run one job."};
}

std::optional<std::string> answer(const std::string& fixtureName, const Status& status) {
  auto event = parseEvent(test::readFile(test::fixture("hooks/" + fixtureName)));
  if (!event) return std::nullopt;
  return respond(*event, status);
}

TEST(ClaudeHook, AnswersEachEventAtEachLevel) {
  const std::string levels[] = {"ok", "busy", "overloaded", "critical"};
  auto session = [](const std::string& l) {
    return "{\"hookSpecificOutput\":{\"additionalContext\":\"Load " + l +
           ": CPU 90%.\\nRun one job.\",\"hookEventName\":\"SessionStart\"}}";
  };
  auto prompt = [](const std::string& l) {
    return "{\"hookSpecificOutput\":{\"additionalContext\":\"Load " + l +
           ": CPU 90%.\",\"hookEventName\":\"UserPromptSubmit\"}}";
  };
  auto warning = [](const std::string& l) {
    return "{\"hookSpecificOutput\":{\"additionalContext\":\"Warning: this computer is " + l +
           ". Run one job.\",\"hookEventName\":\"PreToolUse\"}}";
  };
  struct Case {
    std::string fixture;
    int fromLevel;  // index of the first level that gets an answer; 4 = never
    std::function<std::string(const std::string&)> expected;
  } cases[] = {
      {"session_start.json", 0, session},      {"user_prompt_submit.json", 1, prompt},
      {"pre_tool_use_bash.json", 2, warning},  {"pre_tool_use_agent.json", 2, warning},
      {"pre_tool_use_task.json", 2, warning},  {"pre_tool_use_read.json", 4, nullptr},
      {"post_tool_use_bash.json", 4, nullptr}, {"stop.json", 4, nullptr},
      {"truncated.json", 4, nullptr},          {"tool_name_not_text.json", 4, nullptr},
      {"no_event_name.json", 4, nullptr},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 4; ++i) {
      auto out = answer(c.fixture, statusAt(levels[i]));
      if (i >= c.fromLevel) {
        ASSERT_TRUE(out) << c.fixture << " at " << levels[i];
        EXPECT_EQ(*out, c.expected(levels[i])) << c.fixture;
      } else {
        EXPECT_FALSE(out) << c.fixture << " at " << levels[i] << ": " << *out;
      }
    }
  }
}

TEST(ClaudeHook, OnlyEventsThatCanBeAnsweredAskForTheStatus) {
  struct Case {
    std::string fixture;
    bool wants;
  } cases[] = {
      {"session_start.json", true},
      {"user_prompt_submit.json", true},
      {"pre_tool_use_bash.json", true},
      {"pre_tool_use_agent.json", true},
      {"pre_tool_use_read.json", false},
      {"post_tool_use_bash.json", false},
      {"stop.json", false},
      {"tool_name_not_text.json", false},
  };
  for (const auto& c : cases) {
    auto event = parseEvent(test::readFile(test::fixture("hooks/" + c.fixture)));
    ASSERT_TRUE(event) << c.fixture;
    EXPECT_EQ(wantsStatus(*event), c.wants) << c.fixture;
  }
}

TEST(ClaudeHook, ReadsTheFieldsItUses) {
  auto event = parseEvent(test::readFile(test::fixture("hooks/pre_tool_use_bash.json")));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->hookEventName, "PreToolUse");
  EXPECT_EQ(event->toolName, "Bash");
  EXPECT_EQ(event->sessionId, "4f1c2a9e-7d1b-4a57-9c3e-0b2f6d8e1a11");
  EXPECT_EQ(event->cwd, "/home/dev/app");
  auto start = parseEvent(test::readFile(test::fixture("hooks/session_start.json")));
  ASSERT_TRUE(start);
  EXPECT_EQ(start->source, "startup");
  for (const char* bad : {"", "null", "[]", "\"SessionStart\"", "{\"hook_event_name\":5}",
                          "{\"hook_event_name\":\"Session\xff\"}"})
    EXPECT_FALSE(parseEvent(bad)) << bad;
}

TEST(ClaudeHook, TextsAreShapedForTheirPlace) {
  Event prompt{.hookEventName = "UserPromptSubmit"};
  Event start{.hookEventName = "SessionStart"};
  Event bash{.hookEventName = "PreToolUse", .toolName = "Bash"};

  // The prompt line is the summary's first line, cut on a character boundary.
  auto multi = respond(prompt, {.level = "busy", .summary = "first\nsecond", .advice = "a"});
  ASSERT_TRUE(multi);
  EXPECT_NE(multi->find("\"additionalContext\":\"first\""), std::string::npos) << *multi;
  std::string longSummary(299, 'x');
  longSummary += "ЖЖЖ";
  auto cut = respond(prompt, {.level = "critical", .summary = longSummary});
  ASSERT_TRUE(cut);
  EXPECT_NE(cut->find("\"" + std::string(299, 'x') + "…\""), std::string::npos) << *cut;
  auto bare = respond(prompt, {.level = "overloaded"});
  ASSERT_TRUE(bare);
  EXPECT_NE(bare->find("This computer is overloaded."), std::string::npos);

  // Without advice the warning falls back to the summary; with neither, the level alone.
  auto noAdvice = respond(bash, {.level = "critical", .summary = "Swap is full."});
  ASSERT_TRUE(noAdvice);
  EXPECT_NE(noAdvice->find("Warning: this computer is critical. Swap is full."), std::string::npos);
  EXPECT_TRUE(respond(bash, {.level = "critical"}));

  // Session start with nothing to say, and levels this system does not have.
  EXPECT_FALSE(respond(start, {.level = "ok"}));
  auto adviceOnly = respond(start, {.level = "ok", .advice = "All clear."});
  ASSERT_TRUE(adviceOnly);
  EXPECT_NE(adviceOnly->find("\"additionalContext\":\"All clear.\""), std::string::npos);
  for (const char* level : {"", "OK", "high", "overload"}) {
    EXPECT_FALSE(respond(start, {.level = level, .summary = "s", .advice = "a"})) << level;
    EXPECT_FALSE(respond(bash, {.level = level, .summary = "s", .advice = "a"})) << level;
  }

  // A PreToolUse answer never carries a permission decision, so it cannot block.
  auto warning = respond(bash, statusAt("critical"));
  ASSERT_TRUE(warning);
  EXPECT_EQ(warning->find("permissionDecision"), std::string::npos);
  EXPECT_EQ(warning->find("\"decision\""), std::string::npos);
  EXPECT_EQ(warning->find("\"continue\""), std::string::npos);
}

}  // namespace
}  // namespace norvo::claude_hook
