// What the companion asks and which button answers what, from plain records;
// and the critical warning's hysteresis over a sequence of ticks.
#include "core/desktop/owner_question.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

using desktop::OwnerQuestion;
using platform::Language;
using std::chrono::seconds;

std::vector<OwnerQuestion> questions() {
  QuitSuggestion::Item app;
  app.name = "Browser";
  auto quit = QuitSuggestion::make("claude pid 42", "builds are slow", {app});
  auto cleanup = CleanupSuggestion::make("the disk is full", {"pip-cache", "npm-cache"});
  UninstallSuggestion uninstall;
  uninstall.id = "U1";
  return {desktop::questionFor(quit), desktop::questionFor(cleanup),
          desktop::questionFor(uninstall)};
}

TEST(OwnerQuestion, ButtonsAreTheAnswersAndWithoutThemTheCommandIsNamed) {
  for (const auto& q : questions()) {
    SCOPED_TRACE(q.kind);
    auto withButtons = desktop::noticeFor(q, Language::english, true);
    std::vector<std::string> keys;
    for (const auto& [key, label] : withButtons.actions) {
      keys.push_back(key);
      EXPECT_EQ(desktop::answerForAction(q, key),
                key == desktop::defaultAction ? std::nullopt : std::optional(key));
    }
    auto expected = q.answers;
    expected.emplace_back(desktop::defaultAction);
    EXPECT_EQ(keys, expected);

    auto plain = desktop::noticeFor(q, Language::russian, false);
    EXPECT_TRUE(plain.actions.empty());
    for (const auto& answer : q.answers)
      EXPECT_NE(plain.body.find("zemnorvo answer " + q.id + " " + answer), std::string::npos)
          << plain.body;
  }
  auto quit = questions().front();
  for (std::string key : {"clean", "uninstall", "", "quit ", "QUIT"})
    EXPECT_FALSE(desktop::answerForAction(quit, key)) << key;
}

TEST(OwnerQuestion, SaysWhatAcceptingFreesOnlyWhenAllOfItWasMeasured) {
  auto cleanup = CleanupSuggestion::make("the disk is full", {"pip-cache", "npm-cache"});
  desktop::QuestionSizes sizes;
  sizes.items = {{"pip-cache", 512ll << 20}, {"npm-cache", 512ll << 20}};
  EXPECT_EQ(desktop::questionFor(cleanup, sizes).freedBytes, 1ll << 30);
  // One item not measured in time: no total that would understate it.
  sizes.items.erase("npm-cache");
  EXPECT_FALSE(desktop::questionFor(cleanup, sizes).freedBytes);

  UninstallSuggestion uninstall;
  EXPECT_EQ(desktop::questionFor(uninstall, {{}, 300ll << 20, 1ll << 30}).freedBytes,
            (300ll << 20) + (1ll << 30));
  EXPECT_FALSE(desktop::questionFor(uninstall, {{}, std::nullopt, 1ll << 30}).freedBytes);
}

TEST(OwnerQuestion, PlanShowsTheNewAndWithdrawsTheAnswered) {
  auto all = questions();
  auto plan = desktop::plan({all[0], all[1]}, {all[1].id, "ANSWERED-ELSEWHERE"});
  ASSERT_EQ(plan.show.size(), 1u);
  EXPECT_EQ(plan.show[0].id, all[0].id);
  EXPECT_EQ(plan.withdraw, std::vector<std::string>{"ANSWERED-ELSEWHERE"});
}

TEST(CriticalAlarm, WarnsOncePerEpisodeAndAgainOnlyAfterALongCalm) {
  const std::tuple<LoadLevel, int, bool> ticks[] = {
      {LoadLevel::busy, 0, false},        {LoadLevel::critical, 5, true},
      {LoadLevel::overloaded, 10, false}, {LoadLevel::critical, 15, false},
      {LoadLevel::ok, 20, false},         {LoadLevel::overloaded, 250, false},  // calm broken
      {LoadLevel::ok, 300, false},        {LoadLevel::critical, 400, false},    // 100 s calm only
      {LoadLevel::busy, 500, false},      {LoadLevel::ok, 800, false},
      {LoadLevel::critical, 805, true},   {LoadLevel::critical, 810, false}};
  desktop::CriticalAlarm alarm(seconds(300));
  for (auto [level, at, warns] : ticks)
    EXPECT_EQ(alarm.observe(level, Date{} + seconds(at)), warns) << "at " << at;
}

TEST(CriticalAlarm, TheWarningNamesTheHeaviestAndWhetherAnAgentRunsIt) {
  NorvoSnapshot s;
  AppGroup app;
  app.name = "Browser";
  s.assessment.quitCandidates = {app};
  // An agent's task comes before the heaviest app: it is what an agent can
  // stop itself.
  ProcessSample task;
  task.name = "cargo";
  s.assessment.heavyAITasks = {task};
  auto body = desktop::criticalNotice(s, Language::english).body;
  EXPECT_NE(body.find("Heaviest: cargo (0% CPU), an AI agent's task"), std::string::npos) << body;
  EXPECT_EQ(body.find("Browser"), std::string::npos) << body;
}

}  // namespace
}  // namespace norvo
