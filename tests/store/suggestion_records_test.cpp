#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "core/store/cleanup_suggestion.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/store/scan_request.hpp"
#include "core/store/uninstall_suggestion.hpp"
#include "core/store/uuid.hpp"

namespace norvo {
namespace {

using namespace std::chrono;
using nlohmann::json;

Date at(int seconds) { return Date(sys_days{year{2026} / 5 / 1}) + std::chrono::seconds(seconds); }

QuitSuggestion::Item item(std::optional<std::string> bundleID) {
  return QuitSuggestion::Item{"Slack", "/opt/Slack.app", std::move(bundleID), 812, 12.5, 734003200};
}

template <typename T>
bool decodes(const json& j) {
  return json_codec::decodeAs<T>(j.dump()).has_value();
}

TEST(SuggestionRecords, FreshRecordsArePendingWithUpperCaseV4IdsAndOrderedDates) {
  QuitSuggestion q = QuitSuggestion::make("claude", "memory is short", {item(std::nullopt)});
  json j = q;
  EXPECT_EQ(j.at("status"), "pending");
  EXPECT_EQ(j.at("quit"), json::array());
  EXPECT_FALSE(j.at("items")[0].contains("bundleID")) << "absent, not null";
  EXPECT_FALSE(j.contains("answeredAt"));
  UninstallSuggestion u = UninstallSuggestion::make("unused", {.name = "A", .path = "/a.app"});
  EXPECT_FALSE(json(u).contains("deleted"));
  u.deleted = false;
  EXPECT_EQ(json(u).at("deleted"), false) << "false is a value, not absence";

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
  UninstallSuggestion u = UninstallSuggestion::make("r", {.name = "A", .path = "/a.app"});
  u.created = at(4);
  u.removed = true;
  u.deleted = true;
  u.bytes = 123;
  EXPECT_EQ(json_codec::decodeAs<UninstallSuggestion>(json_codec::encodeRecord(u)), u);
  NorvoStore::ScanRequest r = NorvoStore::ScanRequest::make(std::nullopt, "/home/me");
  r.created = at(5);
  EXPECT_FALSE(json(r).contains("volumePath"));
  EXPECT_EQ(json_codec::decodeAs<NorvoStore::ScanRequest>(json_codec::encodeRecord(r)), r);
}

// Which keys a record may lack is its own; the optional and integer rules
// themselves are the field list's (see record_fields_test).
TEST(SuggestionRecords, DecodingRequiresEveryNonOptionalKey) {
  struct Case {
    json base;
    std::function<bool(const json&)> decodes;
    std::vector<std::string> required;
  };
  for (const Case& k : std::vector<Case>{
           {QuitSuggestion::make("a", "b", {item("com.x")}),
            decodes<QuitSuggestion>,
            {"id", "created", "source", "reason", "items", "status", "quit", "kept"}},
           {CleanupSuggestion::make("b", {"x"}),
            decodes<CleanupSuggestion>,
            {"id", "created", "reason", "itemIDs", "status", "cleaned", "freedBytes"}},
           {UninstallSuggestion::make("b", {.name = "A", .path = "/a.app"}),
            decodes<UninstallSuggestion>,
            {"id", "created", "reason", "appPath", "appName", "status", "removed", "bytes"}},
           {item(std::nullopt),
            decodes<QuitSuggestion::Item>,
            {"name", "bundlePath", "mainPid", "cpuPercent", "memoryBytes"}}}) {
    EXPECT_TRUE(k.decodes(k.base)) << k.base;
    for (const std::string& key : k.required) {
      json j = k.base;
      j.erase(key);
      EXPECT_FALSE(k.decodes(j)) << "without " << key;
    }
  }
}

}  // namespace
}  // namespace norvo
