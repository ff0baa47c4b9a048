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
  uninstall.reason = "unused for a year";
  uninstall.appName = "Demo";
  uninstall.appPath = "/home/me/Applications/Demo.AppImage";
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
    EXPECT_NE(withButtons.body.find(q.reason), std::string::npos);
    for (const auto& what : q.what) EXPECT_NE(withButtons.body.find(what), std::string::npos);

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
  std::vector<std::string> ids{"pip-cache", "npm-cache"};
  for (int i = 0; i < 6; ++i) ids.push_back("cache-" + std::to_string(i));
  auto cleanup = CleanupSuggestion::make("the disk is full", ids);
  desktop::QuestionSizes sizes;
  for (const auto& id : ids) sizes.items[id] = 512ll << 20;
  auto q = desktop::questionFor(cleanup, sizes);
  EXPECT_EQ(q.what.front(), "pip-cache (512 MB)");
  EXPECT_EQ(q.freedBytes, 4ll << 30);
  auto body = desktop::noticeFor(q, Language::english, true).body;
  EXPECT_NE(body.find("Frees about 4.0 GB"), std::string::npos) << body;
  EXPECT_EQ(body.find("cache-5"), std::string::npos) << "a notification lists the first few";
  // The details the default action opens list every item and the answers.
  auto details = desktop::detailsText(q, Language::russian);
  EXPECT_NE(details.find("cache-5 (512 MB)"), std::string::npos) << details;
  EXPECT_NE(details.find("zemnorvo answer " + q.id + " keep"), std::string::npos) << details;

  // One item not measured in time: no total that would understate it.
  sizes.items.erase("npm-cache");
  q = desktop::questionFor(cleanup, sizes);
  EXPECT_EQ(q.what[1], "npm-cache");
  EXPECT_FALSE(q.freedBytes);

  UninstallSuggestion uninstall;
  uninstall.appName = "Demo";
  uninstall.appPath = "/home/me/Applications/Demo.AppImage";
  q = desktop::questionFor(uninstall, {{}, 300ll << 20, 1ll << 30});
  EXPECT_EQ(q.what.front(), "Demo (/home/me/Applications/Demo.AppImage, 300 MB)");
  EXPECT_EQ(q.freedBytes, (300ll << 20) + (1ll << 30));
  body = desktop::noticeFor(q, Language::russian, true).body;
  EXPECT_NE(body.find("Остатки: 1.0 GB"), std::string::npos) << body;
  q = desktop::questionFor(uninstall, {{}, std::nullopt, 1ll << 30});
  EXPECT_FALSE(q.freedBytes);
}

TEST(OwnerQuestion, PlanShowsTheNewAndWithdrawsTheAnswered) {
  auto all = questions();
  auto plan = desktop::plan({all[0], all[1]}, {all[1].id, "ANSWERED-ELSEWHERE"});
  ASSERT_EQ(plan.show.size(), 1u);
  EXPECT_EQ(plan.show[0].id, all[0].id);
  EXPECT_EQ(plan.withdraw, std::vector<std::string>{"ANSWERED-ELSEWHERE"});
}

TEST(CriticalAlarm, WarnsOncePerEpisodeAndAgainOnlyAfterALongCalm) {
  struct Tick {
    LoadLevel level;
    int at;
    bool warns;
  };
  const Tick ticks[] = {
      {LoadLevel::busy, 0, false},        {LoadLevel::critical, 5, true},
      {LoadLevel::overloaded, 10, false}, {LoadLevel::critical, 15, false},
      {LoadLevel::ok, 20, false},         {LoadLevel::overloaded, 250, false},  // calm broken
      {LoadLevel::ok, 300, false},        {LoadLevel::critical, 400, false},    // 100 s calm only
      {LoadLevel::busy, 500, false},      {LoadLevel::ok, 800, false},
      {LoadLevel::critical, 805, true},   {LoadLevel::critical, 810, false}};
  desktop::CriticalAlarm alarm(seconds(300));
  for (const auto& t : ticks)
    EXPECT_EQ(alarm.observe(t.level, Date{} + seconds(t.at)), t.warns) << "at " << t.at;
}

TEST(CriticalAlarm, TheWarningNamesTheHeaviestAndWhetherAnAgentRunsIt) {
  NorvoSnapshot s;
  s.assessment.reasons = {"memory pressure critical"};
  AppGroup app;
  app.name = "Browser";
  s.assessment.quitCandidates = {app};
  auto body = desktop::criticalNotice(s, Language::english).body;
  EXPECT_NE(body.find("memory pressure critical"), std::string::npos) << body;
  EXPECT_NE(body.find("Browser"), std::string::npos) << body;
  EXPECT_EQ(body.find("agent"), std::string::npos) << body;
  // An agent's task comes first: it is what an agent can stop itself.
  ProcessSample task;
  task.name = "cargo";
  s.assessment.heavyAITasks = {task};
  body = desktop::criticalNotice(s, Language::english).body;
  EXPECT_NE(body.find("cargo"), std::string::npos) << body;
  EXPECT_NE(body.find("an AI agent's task"), std::string::npos) << body;
  EXPECT_EQ(body.find("Browser"), std::string::npos) << body;
}

}  // namespace
}  // namespace norvo
