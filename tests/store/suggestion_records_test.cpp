#include <gtest/gtest.h>

#include <set>

#include "core/store/cleanup_suggestion.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/store/scan_request.hpp"
#include "core/store/uninstall_suggestion.hpp"
#include "core/store/uuid.hpp"

namespace norvo {
namespace {

using namespace std::chrono;

Date at(int seconds) { return Date(sys_days{year{2026} / 5 / 1}) + std::chrono::seconds(seconds); }

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

TEST(SuggestionRecords, RoundTripKeepsEveryAnsweredField) {
  QuitSuggestion q = QuitSuggestion::make("codex", "hot", {item("com.x"), item(std::nullopt)});
  q.created = at(1);
  q.status = "answered";
  q.quit = {"Slack"};
  q.kept = {"Xcode"};
  q.answeredAt = at(9);
  EXPECT_EQ(json_codec::decodeAs<QuitSuggestion>(json_codec::encodeRecord(q)), q);
  CleanupSuggestion c = CleanupSuggestion::make("r", {"a"});
  c.created = at(2);
  c.cleaned = {"a"};
  c.freedBytes = 9'000'000'000;
  c.answeredAt = at(3);
  EXPECT_EQ(json_codec::decodeAs<CleanupSuggestion>(json_codec::encodeRecord(c)), c);
  UninstallSuggestion u = UninstallSuggestion::make("r", "A", "/a.app");
  u.created = at(4);
  u.removed = true;
  u.deleted = true;
  u.bytes = 123;
  EXPECT_EQ(json_codec::decodeAs<UninstallSuggestion>(json_codec::encodeRecord(u)), u);
  NorvoStore::ScanRequest r = NorvoStore::ScanRequest::make(std::nullopt, "/home/me");
  r.created = at(5);
  EXPECT_EQ(json_codec::decodeAs<NorvoStore::ScanRequest>(json_codec::encodeRecord(r)), r);
}

}  // namespace
}  // namespace norvo
