// The tray icon's pixels and menu from plain values: what a click on each
// entry does, ids that survive rebuilds and are never handed to another
// entry, and the same words as the notifications.
#include "core/desktop/tray_menu.hpp"

#include <gtest/gtest.h>

#include <set>

namespace norvo {
namespace {

using desktop::TrayAction;
using platform::Language;
using platform::TrayMenuNode;

std::vector<desktop::OwnerQuestion> twoQuestions() {
  QuitSuggestion::Item app;
  app.name = "Browser";
  auto quit = QuitSuggestion::make("claude pid 42", "builds are slow", {app});
  auto cleanup = CleanupSuggestion::make("the disk is full", {"pip-cache"});
  return {desktop::questionFor(quit), desktop::questionFor(cleanup)};
}

void collect(const std::vector<TrayMenuNode>& nodes, std::vector<const TrayMenuNode*>& out) {
  for (const auto& n : nodes) {
    out.push_back(&n);
    collect(n.children, out);
  }
}

TEST(TrayIcon, IsADiscInTheLevelsColourOnATransparentGround) {
  struct Case {
    std::optional<LoadLevel> level;
    uint8_t r, g, b;
  };
  const Case cases[] = {{LoadLevel::ok, 0x32, 0xD7, 0x4B},
                        {LoadLevel::busy, 0xFF, 0xD6, 0x0A},
                        {LoadLevel::overloaded, 0xFF, 0x9F, 0x0A},
                        {LoadLevel::critical, 0xFF, 0x45, 0x3A},
                        {std::nullopt, 0x8E, 0x8E, 0x93}};
  for (const auto& c : cases)
    for (int32_t size : {16, 22, 48}) {
      SCOPED_TRACE(std::to_string(size) + " " +
                   (c.level ? std::string(rawValue(*c.level)) : "none"));
      auto icon = desktop::trayIcon(c.level, size);
      ASSERT_EQ(icon.argb.size(), static_cast<size_t>(size * size * 4));
      auto at = [&](int x, int y) {
        const uint8_t* p = &icon.argb[(static_cast<size_t>(y) * size + x) * 4];
        return std::vector<uint8_t>(p, p + 4);
      };
      EXPECT_EQ(at(size / 2, size / 2), (std::vector<uint8_t>{0xFF, c.r, c.g, c.b}));
      EXPECT_EQ(at(0, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
      EXPECT_EQ(at(size - 1, size - 1), (std::vector<uint8_t>{0, 0, 0, 0}));
    }
}

TEST(TrayMenu, EachAnswerEntryAnswersItsOwnQuestionInTheNotificationsWords) {
  auto pending = twoQuestions();
  NorvoSnapshot snapshot;
  snapshot.assessment.recommendedParallelJobs = 3;
  snapshot.assessment.recommendedBuildThreads = 6;
  // In the owner's language, as the notifications are.
  auto language = Language::russian;
  desktop::TrayMenu menu;
  auto root = menu.build(snapshot, pending, language);
  std::vector<const TrayMenuNode*> all;
  collect(root, all);
  std::set<int32_t> ids;
  for (const auto* n : all) EXPECT_TRUE(ids.insert(n->id).second) << "id " << n->id << " twice";
  EXPECT_EQ(ids.count(0), 0u) << "0 is the root's";
  // Labels first, not clickable; then a submenu per question; "Show widget" last.
  ASSERT_EQ(root.size(), 3 + pending.size() + 1);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_FALSE(root[i].enabled);
    EXPECT_FALSE(menu.actionOf(root[i].id));
  }
  EXPECT_NE(root[2].label.find('6'), std::string::npos) << root[2].label;
  for (size_t q = 0; q < pending.size(); ++q) {
    const auto& submenu = root[3 + q];
    auto notice = desktop::noticeFor(pending[q], language, true);
    EXPECT_EQ(submenu.label, notice.summary);
    EXPECT_FALSE(menu.actionOf(submenu.id)) << "a submenu's own entry answers nothing";
    ASSERT_EQ(submenu.children.size(), pending[q].answers.size());
    for (size_t a = 0; a < submenu.children.size(); ++a) {
      EXPECT_EQ(submenu.children[a].label, notice.actions[a].second);
      EXPECT_EQ(menu.actionOf(submenu.children[a].id),
                (TrayAction{TrayAction::Kind::answer, pending[q].id, pending[q].answers[a]}));
    }
  }
  EXPECT_EQ(menu.actionOf(root.back().id), (TrayAction{TrayAction::Kind::showWidget, "", ""}));
  EXPECT_FALSE(menu.actionOf(9999));
}

TEST(TrayMenu, AnIdReadBeforeAChangeNeverLandsOnAnotherEntry) {
  auto pending = twoQuestions();
  desktop::TrayMenu menu;
  auto before = menu.build(std::nullopt, pending, Language::english);
  ASSERT_EQ(before.size(), 1 + pending.size() + 1) << "one label when nothing is measured";
  int32_t firstKeep = before[1].children.back().id;
  int32_t secondKeep = before[2].children.back().id;
  int32_t show = before.back().id;

  // The first question was answered elsewhere, and a new one came.
  UninstallSuggestion uninstall;
  uninstall.id = "U1";
  uninstall.appName = "Demo";
  std::vector<desktop::OwnerQuestion> now{pending[1], desktop::questionFor(uninstall)};
  NorvoSnapshot snapshot;
  auto after = menu.build(snapshot, now, Language::english);
  std::vector<const TrayMenuNode*> all;
  collect(after, all);
  for (const auto* n : all) EXPECT_NE(n->id, firstKeep) << n->label << " took an old id";
  EXPECT_FALSE(menu.actionOf(firstKeep)) << "a click for an answered question";
  EXPECT_EQ(menu.actionOf(secondKeep),
            (TrayAction{TrayAction::Kind::answer, pending[1].id, "keep"}));
  EXPECT_EQ(after.back().id, show);
  EXPECT_EQ(after.front().id, before.front().id) << "the status line keeps its id";
}

}  // namespace
}  // namespace norvo
