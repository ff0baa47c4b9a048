// The tray menu from plain values: what a click on each entry does, ids
// that survive rebuilds and are never handed to another entry. The icon's
// pixels are seen in a real tray by the tray host test.
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

// Labels first, not clickable; then a submenu per question whose entries
// answer it; "Show widget" last. An id read before a change never lands on
// another entry.
TEST(TrayMenu, EachEntryAnswersItsOwnQuestionAndAnOldIdNothingElse) {
  auto pending = twoQuestions();
  desktop::TrayMenu menu;
  auto before = menu.build(std::nullopt, pending, Language::english);
  ASSERT_EQ(before.size(), 1 + pending.size() + 1) << "one label when nothing is measured";
  EXPECT_FALSE(menu.actionOf(before[0].id));
  for (size_t q = 0; q < pending.size(); ++q) {
    const auto& submenu = before[1 + q];
    EXPECT_FALSE(menu.actionOf(submenu.id)) << "a submenu's own entry answers nothing";
    ASSERT_EQ(submenu.children.size(), pending[q].answers.size());
    for (size_t a = 0; a < submenu.children.size(); ++a)
      EXPECT_EQ(menu.actionOf(submenu.children[a].id),
                (TrayAction{TrayAction::Kind::answer, pending[q].id, pending[q].answers[a]}));
  }
  EXPECT_EQ(menu.actionOf(before.back().id), (TrayAction{TrayAction::Kind::showWidget, "", ""}));
  EXPECT_FALSE(menu.actionOf(9999));
  int32_t firstKeep = before[1].children.back().id, secondKeep = before[2].children.back().id;

  // The first question was answered elsewhere, a new one came, and the loop
  // has measured.
  UninstallSuggestion uninstall;
  uninstall.id = "U1";
  uninstall.appName = "Demo";
  std::vector<desktop::OwnerQuestion> now{pending[1], desktop::questionFor(uninstall)};
  NorvoSnapshot snapshot;
  snapshot.assessment.recommendedParallelJobs = 3;
  snapshot.assessment.recommendedBuildThreads = 6;
  auto after = menu.build(snapshot, now, Language::russian);
  std::vector<const TrayMenuNode*> all;
  collect(after, all);
  std::set<int32_t> ids{0};  // 0 is the root's
  for (const auto* n : all) {
    EXPECT_TRUE(ids.insert(n->id).second) << "id " << n->id << " twice";
    EXPECT_NE(n->id, firstKeep) << n->label << " took an old id";
  }
  ASSERT_EQ(after.size(), 3 + now.size() + 1);
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(after[i].enabled || menu.actionOf(after[i].id));
  EXPECT_NE(after[2].label.find('6'), std::string::npos) << after[2].label;
  EXPECT_FALSE(menu.actionOf(firstKeep)) << "a click for an answered question";
  EXPECT_EQ(menu.actionOf(secondKeep),
            (TrayAction{TrayAction::Kind::answer, pending[1].id, "keep"}));
  EXPECT_EQ(after.back().id, before.back().id);
  EXPECT_EQ(after.front().id, before.front().id) << "the status line keeps its id";
}

}  // namespace
}  // namespace norvo
