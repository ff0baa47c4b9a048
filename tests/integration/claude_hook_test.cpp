#include "core/integration/claude_hook.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "test_support.hpp"

namespace norvo::claude_hook {
namespace {

Status statusAt(const std::string& level) {
  return {.level = level, .summary = "Load " + level + ": CPU 90%.", .advice = "Run one job."};
}

TEST(ClaudeHook, AnswersEachEventFromItsLevelOn) {
  const std::string levels[] = {"ok", "busy", "overloaded", "critical"};
  auto context = [](const std::string& event, const std::string& text) {
    return "{\"hookSpecificOutput\":{\"additionalContext\":\"" + text + "\",\"hookEventName\":\"" +
           event + "\"}}";
  };
  auto session = [&](const std::string& l) {
    return context("SessionStart", "Load " + l + ": CPU 90%.\\nRun one job.");
  };
  auto prompt = [&](const std::string& l) {
    return context("UserPromptSubmit", "Load " + l + ": CPU 90%.");
  };
  auto warning = [&](const std::string& l) {
    return context("PreToolUse", "Warning: this computer is " + l + ". Run one job.");
  };
  struct Case {
    std::string fixture;
    int fromLevel;  // index of the first level that gets an answer; 4 = never
    std::function<std::string(const std::string&)> expected;
  } cases[] = {
      {"session_start.json", 0, session},      {"user_prompt_submit.json", 1, prompt},
      {"pre_tool_use_bash.json", 2, warning},  {"pre_tool_use_agent.json", 2, warning},
      {"pre_tool_use_read.json", 4, nullptr},  {"post_tool_use_bash.json", 4, nullptr},
      {"tool_name_not_text.json", 4, nullptr}, {"truncated.json", 4, nullptr},
      {"no_event_name.json", 4, nullptr},
  };
  for (const auto& c : cases) {
    auto event = parseEvent(test::readFile(test::fixture("hooks/" + c.fixture)));
    // Only events that can be answered ask for the status.
    EXPECT_EQ(event && wantsStatus(*event), c.fromLevel < 4) << c.fixture;
    for (int i = 0; i < 4; ++i) {
      auto out = event ? respond(*event, statusAt(levels[i])) : std::nullopt;
      EXPECT_EQ(out, i >= c.fromLevel ? std::optional(c.expected(levels[i])) : std::nullopt)
          << c.fixture << " at " << levels[i];
    }
  }
  for (const char* bad : {"", "null", "[]", "\"SessionStart\"", "{\"hook_event_name\":5}",
                          "{\"hook_event_name\":\"Session\xff\"}"})
    EXPECT_FALSE(parseEvent(bad)) << bad;
}

TEST(ClaudeHook, TextsAreShapedForTheirPlace) {
  Event prompt{.hookEventName = "UserPromptSubmit"};
  Event start{.hookEventName = "SessionStart"};
  Event bash{.hookEventName = "PreToolUse", .toolName = "Bash"};
  auto says = [](const Event& e, const Status& s) {
    auto out = respond(e, s);
    return out ? nlohmann::json::parse(*out)["hookSpecificOutput"]["additionalContext"] : nullptr;
  };
  // The prompt line is the summary's first line; how the other texts read is
  // the event table's to check once each.
  EXPECT_EQ(says(prompt, {.level = "busy", .summary = "first\nsecond", .advice = "a"}), "first");
  // Session start with nothing to say, and levels this system does not have.
  EXPECT_EQ(says(start, {.level = "ok"}), nullptr);
  for (const char* level : {"", "OK", "high", "overload"}) {
    EXPECT_FALSE(respond(start, {.level = level, .summary = "s", .advice = "a"})) << level;
    EXPECT_FALSE(respond(bash, {.level = level, .summary = "s", .advice = "a"})) << level;
  }
}

TEST(ClaudeHook, BuildCommandsGetThePoolAdviceOrTheirRewrite) {
  auto event =
      parseEvent(R"({"hook_event_name":"PreToolUse","tool_name":"Bash",)"
                 R"("tool_input":{"command":"make -j8","description":"Build","timeout":60000}})");
  ASSERT_TRUE(event && event->command);
  EXPECT_EQ(*event->command, "make -j8");
  struct Case {
    std::string level, buildAdvice;
    std::optional<std::string> rewritten;
    std::optional<std::string> expected;
  } cases[] = {
      {"ok", "", std::nullopt, std::nullopt},
      {"ok", "Use the pool.", std::nullopt,
       R"({"hookSpecificOutput":{"additionalContext":"Use the pool.","hookEventName":"PreToolUse"}})"},
      {"critical", "Use the pool.", std::nullopt,
       R"({"hookSpecificOutput":{"additionalContext":"Warning: this computer is critical. )"
       R"(Run one job. Use the pool.","hookEventName":"PreToolUse"}})"},
      // The rest of the tool input stays as the agent sent it.
      {"ok", "Use the pool.", "zemnorvo run -- make -j8",
       R"({"hookSpecificOutput":{"additionalContext":"Use the pool.","hookEventName":"PreToolUse",)"
       R"("updatedInput":{"command":"zemnorvo run -- make -j8","description":"Build",)"
       R"("timeout":60000}}})"},
  };
  for (const auto& c : cases) {
    auto status = statusAt(c.level);
    status.buildAdvice = c.buildAdvice;
    status.rewrittenCommand = c.rewritten;
    EXPECT_EQ(respond(*event, status), c.expected) << c.level << " " << c.buildAdvice;
  }
}

}  // namespace
}  // namespace norvo::claude_hook
