#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "core/measure/process_sample.hpp"
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

TEST(SuggestionRecords, NewQuitSuggestionEncodesPendingWithEmptyOutcome) {
  QuitSuggestion s = QuitSuggestion::make("claude", "memory is short", {item(std::nullopt)});
  s.id = "7F1D7A9A-3C1E-4E43-9C7B-0D6C2B0F4E11";
  s.created = at(0);
  EXPECT_EQ(json_codec::encodeRecord(s),
            R"({"created":"2026-05-01T00:00:00Z","id":"7F1D7A9A-3C1E-4E43-9C7B-0D6C2B0F4E11",)"
            R"("items":[{"bundlePath":"/opt/Slack.app","cpuPercent":12.5,"mainPid":812,)"
            R"("memoryBytes":734003200,"name":"Slack"}],"kept":[],"quit":[],)"
            R"("reason":"memory is short","source":"claude","status":"pending"})");
}

TEST(SuggestionRecords, NewUninstallSuggestionHasNoDeletedKey) {
  Uninstall::App app{
      "Old Tool", "/opt/apps/Old Tool.app", "com.example.old", "1.2", 5000, at(-86400), false};
  UninstallSuggestion s = UninstallSuggestion::make("unused for a year", app);
  EXPECT_EQ(s.appPath, app.path);
  EXPECT_EQ(s.appName, app.name);
  json j = s;
  EXPECT_EQ(j.at("removed"), false);
  EXPECT_EQ(j.at("bytes"), 0);
  EXPECT_EQ(j.at("status"), "pending");
  EXPECT_FALSE(j.contains("deleted"));
  EXPECT_FALSE(j.contains("answeredAt"));
  s.deleted = false;
  EXPECT_EQ(json(s).at("deleted"), false) << "false is a value, not absence";
}

TEST(SuggestionRecords, NewCleanupSuggestionStartsEmpty) {
  CleanupSuggestion s = CleanupSuggestion::make("disk is full", {"npm.cache", "unknown.id"});
  json j = s;
  EXPECT_EQ(j.at("itemIDs"), json({"npm.cache", "unknown.id"}));
  EXPECT_EQ(j.at("cleaned"), json::array());
  EXPECT_EQ(j.at("freedBytes"), 0);
  EXPECT_EQ(j.at("status"), "pending");
  EXPECT_FALSE(j.contains("answeredAt"));
}

TEST(SuggestionRecords, ItemCopiesItsAppGroup) {
  AppGroup group{"Slack",   "/opt/Slack.app",        std::nullopt, 812, 7, 12.5,
                 734003200, ProcessCategory::userApp};
  EXPECT_EQ(QuitSuggestion::Item::from(group), item(std::nullopt));
  json j = QuitSuggestion::Item::from(group);
  EXPECT_FALSE(j.contains("bundleID"));
  EXPECT_FALSE(j.contains("processCount"));
  EXPECT_FALSE(j.contains("category"));
  group.bundleID = "com.tinyspeck.slackmacgap";
  EXPECT_EQ(QuitSuggestion::Item::from(group).bundleID, group.bundleID);
}

TEST(SuggestionRecords, ItemBundleIdIsLeftOutWhenAbsent) {
  EXPECT_FALSE(json(item(std::nullopt)).contains("bundleID"));
  EXPECT_EQ(json(item("com.tinyspeck.slackmacgap")).at("bundleID"), "com.tinyspeck.slackmacgap");
}

TEST(SuggestionRecords, FreshRecordsHaveDistinctUpperCaseV4IdsAndOrderedDates) {
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

  UninstallSuggestion u =
      UninstallSuggestion::make("r", Uninstall::App{.name = "A", .path = "/a.app"});
  u.created = at(4);
  u.removed = true;
  u.deleted = true;
  u.bytes = 123;
  EXPECT_EQ(json_codec::decodeAs<UninstallSuggestion>(json_codec::encodeRecord(u)), u);

  NorvoStore::ScanRequest r = NorvoStore::ScanRequest::make(std::nullopt, "/home/me");
  r.created = at(5);
  json rj = r;
  EXPECT_FALSE(rj.contains("volumePath"));
  EXPECT_EQ(json_codec::decodeAs<NorvoStore::ScanRequest>(rj.dump()), r);
}

// Each record with one required key removed or one value of the wrong kind
// must fail to decode as a whole; a missing optional key decodes as absent.
TEST(SuggestionRecords, DecodingRequiresEveryNonOptionalKey) {
  QuitSuggestion q = QuitSuggestion::make("a", "b", {item("com.x")});
  CleanupSuggestion c = CleanupSuggestion::make("b", {"x"});
  UninstallSuggestion u =
      UninstallSuggestion::make("b", Uninstall::App{.name = "A", .path = "/a.app"});
  struct Case {
    const char* record;
    json base;
    std::function<bool(const std::string&)> decodes;
    std::vector<std::string> required;
  };
  auto decodes = [](auto tag) {
    return [](const std::string& text) {
      return json_codec::decodeAs<decltype(tag)>(text).has_value();
    };
  };
  std::vector<Case> cases = {
      {"quit",
       q,
       decodes(QuitSuggestion{}),
       {"id", "created", "source", "reason", "items", "status", "quit", "kept"}},
      {"cleanup",
       c,
       decodes(CleanupSuggestion{}),
       {"id", "created", "reason", "itemIDs", "status", "cleaned", "freedBytes"}},
      {"uninstall",
       u,
       decodes(UninstallSuggestion{}),
       {"id", "created", "reason", "appPath", "appName", "status", "removed", "bytes"}},
  };
  for (const Case& k : cases) {
    EXPECT_TRUE(k.decodes(k.base.dump())) << k.record;
    for (const std::string& key : k.required) {
      json j = k.base;
      j.erase(key);
      EXPECT_FALSE(k.decodes(j.dump())) << k.record << " without " << key;
      j = k.base;
      j[key] = json::object();
      EXPECT_FALSE(k.decodes(j.dump())) << k.record << " with an object as " << key;
    }
    json j = k.base;
    j["answeredAt"] = nullptr;
    EXPECT_TRUE(k.decodes(j.dump())) << k.record << ": null optional reads as absent";
    j["answeredAt"] = "yesterday";
    EXPECT_FALSE(k.decodes(j.dump())) << k.record << ": a non-date answeredAt";
  }

  // Numbers must be whole and fit their fields.
  struct NumberCase {
    json value;
    bool ok;
  };
  for (const NumberCase& n : std::vector<NumberCase>{{json(0), true},
                                                     {json(-5), true},
                                                     {json(3.5), false},
                                                     {json(9223372036854775807LL), true},
                                                     {json(18446744073709551615ULL), false},
                                                     {json("12"), false}}) {
    json j = c;
    j["freedBytes"] = n.value;
    EXPECT_EQ(json_codec::decodeAs<CleanupSuggestion>(j.dump()).has_value(), n.ok) << n.value;
  }
  json itemJson = item(std::nullopt);
  itemJson["mainPid"] = 2147483648LL;
  EXPECT_FALSE(json_codec::decodeAs<QuitSuggestion::Item>(itemJson.dump()).has_value());
  itemJson = item(std::nullopt);
  itemJson["memoryBytes"] = -1;
  EXPECT_FALSE(json_codec::decodeAs<QuitSuggestion::Item>(itemJson.dump()).has_value());
}

}  // namespace
}  // namespace norvo
