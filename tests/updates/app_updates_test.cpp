#include "core/updates/app_updates.hpp"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "updates/update_server.hpp"

namespace norvo::AppUpdates {
namespace {

using Kind = Outcome::Kind;

TEST(AppUpdatesIsNewer, ComparesNumbersPositionByPosition) {
  struct Case {
    const char* a;
    const char* b;
    bool newer;
  };
  const Case cases[] = {
      {"1.10", "1.9", true},
      {"2.0", "2", false},
      {"2.0.1", "2", true},
      {"beta", "1.0", false},
      {"v2.10.1 (4501)", "2.10.1 (4500)", true},
      // Pieces are cut to nine digits: these two are equal once cut.
      {"1234567899", "123456789", false},
      {"1234567899", "123456788", true},
      {"1.0", "1.0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isNewer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
}

Candidate app(std::optional<std::string> version, std::optional<std::string> build = {}) {
  return {Uninstall::App{"Viewer", "/apps/Viewer.AppImage", "org.example.Viewer", version}, build,
          Source::sparkle, "https://example.org/appcast.xml"};
}

TEST(AppUpdatesAppcast, PicksTheNewestItemTheSystemCanRun) {
  const char* feed = R"(<?xml version="1.0"?>
<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
  <item><title>3.0 beta</title><sparkle:channel>beta</sparkle:channel>
    <enclosure url="https://x/3.zip" sparkle:version="300" sparkle:shortVersionString="3.0"/></item>
  <item><sparkle:minimumSystemVersion>16.0</sparkle:minimumSystemVersion>
    <enclosure url="https://x/2.5.zip" sparkle:version="250" sparkle:shortVersionString="2.5"/></item>
  <item><sparkle:version> 200 </sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString>
    <sparkle:releaseNotesLink>
      https://x/notes/2.0
    </sparkle:releaseNotesLink></item>
  <item><enclosure sparkle:version="100"/></item>
</channel></rss>)";
  auto items = readAppcast(feed);
  // The beta item's channel and the 2.0 item's notes show in the outcomes.
  ASSERT_TRUE(items);

  const OSVersion os{15, 4, 0};
  struct Case {
    const char* what;
    Candidate candidate;
    Kind kind;
    const char* available;
  };
  const Case cases[] = {
      {"installed version older", app("1.5"), Kind::update, "2.0"},
      {"installed build equals the newest usable item", app("1.5", "200"), Kind::none, ""},
      {"installed build older", app("1.5", "150"), Kind::update, "2.0"},
      {"installed version equals it", app("2.0"), Kind::none, ""},
      {"nothing to compare with", app(std::nullopt), Kind::none, ""},
  };
  for (const auto& c : cases) {
    auto o = appcastOutcome(c.candidate, items, os);
    EXPECT_EQ(o.kind, c.kind) << c.what;
    if (o.kind == Kind::update) {
      EXPECT_EQ(o.update->available, c.available) << c.what;
      EXPECT_EQ(o.update->link, "https://x/notes/2.0") << c.what;
    }
  }
  // On a system new enough, the 2.5 item counts.
  auto o = appcastOutcome(app("1.5"), items, OSVersion{16, 1, 0});
  ASSERT_EQ(o.kind, Kind::update);
  EXPECT_EQ(o.update->available, "2.5");
  EXPECT_FALSE(readAppcast("<rss><channel><item>"));
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  EXPECT_FALSE(readAppcast(deep));  // unclosed, and no stack is exhausted reading it
  for (int i = 0; i < 200000; ++i) deep += "</a>";
  EXPECT_EQ(readAppcast(deep)->size(), 0u);
  EXPECT_EQ(appcastOutcome(app("1.5"), readAppcast("not xml"), os).kind, Kind::none);
}

TEST(AppUpdatesStore, ReadsTheNewestReleaseAndItsMinimum) {
  Candidate c{Uninstall::App{"Maps", "/var/lib/flatpak/app/org.x.Maps", "org.x.Maps", "15.0"},
              std::nullopt, Source::appStore, std::nullopt};
  const OSVersion os{15, 4, 0};
  struct Case {
    const char* answer;
    Kind kind;
  };
  const Case cases[] = {
      {R"({"releases":[{"version":"15.0"}]})", Kind::none},
      {R"([{"version":"16.0"}])", Kind::none},
      {R"({"releases":[{"timestamp":1}]})", Kind::none},
      // A kernel too old for the newest release: ChecksOverHttpsFourAtATime.
      {R"({"releases":[{"version":"15.2"}],"requires":{"kernel":"15.3"}})", Kind::update},
  };
  for (const auto& k : cases) {
    auto o = storeOutcome(c, readStoreEntry(k.answer, "https://store", "org.x.Maps"), os);
    EXPECT_EQ(o.kind, k.kind) << k.answer;
    if (o.kind == Kind::update) {
      EXPECT_EQ(o.update->available, "15.2");
      EXPECT_EQ(o.update->link, "https://store/apps/org.x.Maps");
    }
  }
}

// Ten appcast apps, a Flathub app that needs a newer kernel, one whose feed
// answers 503 every time, one with a plain HTTP feed, and the product itself.
TEST(AppUpdatesCheck, ChecksOverHttpsFourAtATime) {
  test::UpdateServer server;
  const char* item = R"(<rss xmlns:sparkle="s"><channel><item>
      <enclosure sparkle:version="9" sparkle:shortVersionString="2.0"/></item></channel></rss>)";
  std::vector<Uninstall::App> apps;
  nlohmann::json routes = {{"/feeds/down.xml", {{"statuses", {503, 503, 503}}}}};
  std::map<std::string, platform::UpdateSource> sources;
  auto add = [&](const std::string& name, std::optional<std::string> feed, bool store = false) {
    apps.push_back({name, "/apps/" + name, store ? std::optional("org.x." + name) : std::nullopt,
                    store ? "15.0" : "1.0"});
    sources[apps.back().path] = {true, std::nullopt, store, feed};
  };
  for (int i = 0; i < 10; ++i) {
    std::string path = "/feeds/" + std::to_string(i) + ".xml";
    server.put(path, item);
    routes[path] = {{"delay", 0.3}};
    add(i == 0 ? "zoom" : i == 1 ? "Arc" : "app" + std::to_string(i), server.base() + path);
  }
  add("Down", server.base() + "/feeds/down.xml");
  add("Plain", "http://example.org/appcast.xml");
  add("Maps", std::nullopt, true);
  server.put("/api/v2/appstream/org.x.Maps",
             R"({"releases":[{"version":"15.2"}],"requires":{"kernel":"16.0"}})");
  server.routes(routes);

  test::TempDir work;
  auto self = SelfUpdate::Settings::at(server.base(), work.path());
  self.http = server.http();
  SelfUpdate::Release own{"0.9.0", "90", server.base() + "/r.tar.gz", "00"};
  server.put(std::string(SelfUpdate::feedPath), nlohmann::json(own).dump());

  CheckOptions options;
  options.own = Own{"0.1.0", "", "/home/o/.local/opt/zemra-norvo"};
  options.os = {15, 4, 0};
  options.fetch = live(server.http());
  std::mutex waitsLock;
  std::vector<std::chrono::seconds> waits;
  options.wait = [&](std::chrono::seconds s) {
    std::lock_guard lock(waitsLock);
    waits.push_back(s);
  };
  options.inspect = [&](const Uninstall::App& a) { return sources[a.path]; };
  options.store = server.base();
  options.self = self;  // progress only tells the owner how far the check got

  auto report = check(apps, options);
  EXPECT_EQ(report.checked, 12);
  EXPECT_EQ(report.notChecked, 1);
  EXPECT_EQ(report.failed, std::vector<std::string>{"Down"});
  EXPECT_EQ(waits,
            (std::vector<std::chrono::seconds>{std::chrono::seconds(3), std::chrono::seconds(6)}));
  EXPECT_EQ(report.tooNew, std::vector<std::string>{"Maps"});
  // Sorted by name for the owner, case aside.
  ASSERT_EQ(report.updates.size(), 11u);
  EXPECT_EQ(report.updates[9].name, "Zemra Norvo");
  EXPECT_EQ(report.updates[9].source, Source::zemra);
  EXPECT_EQ(report.updates[9].release->version, "0.9.0");

  auto stats = server.stats();
  EXPECT_LE(stats["maxInFlight"].get<int>(), 4);
  EXPECT_GE(stats["maxInFlight"].get<int>(), 2);  // they did run side by side
  EXPECT_EQ(stats["hits"]["/feeds/down.xml"], 3);

  report.date = std::chrono::floor<std::chrono::seconds>(report.date);  // what JSON keeps
  auto decoded = json_codec::decodeAs<Report>(json_codec::encodeRecord(report));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, report);
}

TEST(HttpClient, AcceptsOnlyVerifiedHttpsAndStatus200) {
  test::UpdateServer server;
  server.put("/ok", "fine");
  server.routes({{"/to-http", {{"redirect", "http://127.0.0.1:1/ok"}}},
                 {"/to-https", {{"redirect", server.base() + "/ok"}}},
                 {"/busy", {{"statuses", {503}}}}});
  EXPECT_EQ(platform::httpGet(server.base() + "/to-https", server.http()), "fine");
  for (const char* path : {"/to-http", "/busy", "/missing"})
    EXPECT_THROW(platform::httpGet(server.base() + path, server.http()), platform::HttpError)
        << path;
  // The system's authorities do not know the test authority.
  EXPECT_THROW(platform::httpGet(server.base() + "/ok", {}), platform::HttpError);
  EXPECT_THROW(platform::httpGet("http://127.0.0.1:1/ok", server.http()), platform::HttpError);
}

}  // namespace
}  // namespace norvo::AppUpdates
