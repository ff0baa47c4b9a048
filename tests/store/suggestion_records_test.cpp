#include <gtest/gtest.h>

#include <set>

#include "core/store/cleanup_suggestion.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/store/scan_request.hpp"
#include "core/store/uuid.hpp"

namespace norvo {
namespace {

QuitSuggestion::Item item(std::optional<std::string> bundleID) {
  return QuitSuggestion::Item{"Slack", "/opt/Slack.app", std::move(bundleID), 812, 12.5, 734003200};
}

TEST(SuggestionRecords, FreshRecordsArePendingWithUpperCaseV4IdsAndOrderedDates) {
  QuitSuggestion q = QuitSuggestion::make("claude", "memory is short", {item(std::nullopt)});
  EXPECT_EQ(q.status, "pending");
  EXPECT_FALSE(q.answeredAt.has_value());

  std::set<std::string> ids;
  Date previous{};
  for (int i = 0; i < 200; ++i) {
    QuitSuggestion s = QuitSuggestion::make("a", "b", {});
    CleanupSuggestion c = CleanupSuggestion::make("b", {});
    NorvoStore::ScanRequest r = NorvoStore::ScanRequest::make();
    for (const std::string& id : {s.id, c.id, r.id}) {
      ASSERT_TRUE(uuid::isCanonical(id)) << id;
      EXPECT_EQ(id[14], '4') << id;
      EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos) << id;
      EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos) << id;
      EXPECT_TRUE(ids.insert(id).second) << "repeated id " << id;
    }
    EXPECT_LE(previous, s.created);
    EXPECT_LE(s.created, c.created);
    previous = r.created;
  }
}

}  // namespace
}  // namespace norvo
