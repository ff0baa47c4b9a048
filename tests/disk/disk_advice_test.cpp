#include "core/disk/disk_advice.hpp"

#include <gtest/gtest.h>

#include "core/disk/disk_report.hpp"
#include "core/disk/disk_scan.hpp"
#include "disk/disk_trees.hpp"

namespace norvo::DiskUsage {
namespace {

using test::kGiB;
using test::kMiB;

// One path per rule of the table that decides what may be done, plus the
// paths where two rules compete; rules that only name a place (review and
// reveal, as for any file of the owner's) are checked through their words once.
TEST(DiskKind, RuleTableOverRepresentativePathsAndTheActionsWireForm) {
  using enum Safety;
  using enum Action::Case;
  Places p = Places::standard("/home/u");
  for (const auto& [path, safety, action] :
       std::vector<std::tuple<std::string, Safety, Action::Case>>{
           {"/System", keep, settings},
           {"/home/u/.local/share/Trash/files", safe, reveal},
           {"/media/usb/.Trash-1000", safe, reveal},
           {"/home/u/.cache/mozilla", safe, cleanup},
           {"/home/u/src/app/node_modules", safe, cleanup},
           {"/home/u/.local/share/Trash/node_modules", safe, reveal},
           {"/home/u/Dropbox/photos", keep, reveal},
           {"/home/u/.var/app/org.gimp.GIMP", keep, reveal},
           {"/home/u/.local", keep, reveal},
           {"/opt/google", review, uninstall},
           {"/var/lib/flatpak/app/com.vadro.ZemraNorvo", keep, none},
           {"/mnt/x/.Spotlight-V100", keep, none},
           {"/mnt/b/Backups.backupdb", keep, reveal},
           {"/home/u/photos/cat.lrcat", keep, reveal},
           {"/home/u/Downloads/ubuntu.ISO", safe, reveal},
           {"/home/u/Library/Logs/x", review, reveal}}) {
    Kind k = kind(path, p);
    EXPECT_EQ(std::pair(k.safety, k.action.kind), std::pair(safety, action)) << path;
  }
  // ~/.cache is every app's cache here, not a tools' folder Free up space empties.
  EXPECT_EQ(kind("/home/u/.cache/mozilla", p).what, "Cache");
  EXPECT_EQ(kind("/opt/google", p).action.payload, "/opt/google");
  // Linux has no settings links: the payload is the desktop entry to start.
  EXPECT_EQ(kind("/System", p).action.payload, "org.gnome.baobab.desktop");
  // The action's wire form; round trips ride on the report's
  // (DiskReport.AccessKeysAndRoundTrip).
  EXPECT_EQ(nlohmann::json(Action{Action::Case::reveal, "/p"}).dump(), R"({"reveal":{"_0":"/p"}})");
  for (const char* bad : {R"({})", R"({"reveal":{"_0":"/p"},"none":{}})"})
    EXPECT_THROW((void)nlohmann::json::parse(bad).get<Action>(), nlohmann::json::exception) << bad;
}

using test::folder;

TEST(DiskAdvice, PicksTheBiggestPlacesWorthActingOn) {
  Places p = Places::standard("/home/u");
  Report r;
  r.volume.path = "/";
  Node home = folder("/home/u", 40 * kGiB,
                     {folder("/home/u/.cache", 3 * kGiB),
                      folder("/home/u/projects", 5 * kGiB,
                             {folder("/home/u/projects/web/node_modules", 2 * kGiB)}),
                      folder("/home/u/Downloads", 4 * kGiB), folder("/home/u/small", 299 * kMiB),
                      folder("/home/u/.local", 6 * kGiB,
                             {folder("/home/u/.local/share", 6 * kGiB,
                                     {folder("/home/u/.local/share/Steam", 5 * kGiB)})})});
  // projects/web is folded away, so its node_modules hangs under projects here.
  home.children[1].children[0].path = "/home/u/projects/node_modules";
  r.root = folder("/", 70 * kGiB, {home});
  r.bigFiles = {{"/home/u/Downloads/disk.iso", 1536 * kMiB, std::nullopt},
                {"/home/u/movies/film.mkv", 3 * kGiB, std::nullopt},
                {"/home/u/.local/share/x.db", 2 * kGiB, std::nullopt}};

  auto advice = advise(r, p, 30);
  std::vector<std::string> paths;
  for (const auto& a : advice) paths.push_back(a.path);
  auto has = [&](const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  };
  for (const char* path : {"/home/u/.cache", "/home/u/projects/node_modules",
                           "/home/u/.local/share/Steam", "/home/u/movies/film.mkv"})
    EXPECT_TRUE(has(path)) << path;
  // The account's data folder and app data are looked into; a big file inside
  // an advised item and a keep-class big file are not advised on their own.
  for (const char* path : {"/home/u/.local", "/home/u/.local/share", "/home/u/small",
                           "/home/u/Downloads/disk.iso", "/home/u/.local/share/x.db"})
    EXPECT_FALSE(has(path)) << path;
  // A generic folder is advised only for what its advised items leave over.
  auto projects = std::find_if(advice.begin(), advice.end(),
                               [](const Advice& a) { return a.path == "/home/u/projects"; });
  ASSERT_NE(projects, advice.end());
  EXPECT_EQ(projects->bytes, 3 * kGiB);
  for (size_t i = 1; i < advice.size(); ++i) {
    ASSERT_LE(advice[i - 1].kind.safety, advice[i].kind.safety);
    if (advice[i - 1].kind.safety == advice[i].kind.safety) {
      EXPECT_GE(advice[i - 1].bytes, advice[i].bytes);
    }
  }
  EXPECT_EQ(advise(r, p, 3).size(), 3u);
}

TEST(DiskGrowth, ReportsThePlacesThatGrew) {
  Places p = Places::standard("/home/u");
  // A folder of `bytes`, `recent` of them created or changed lately.
  auto grew = [](const std::string& path, int64_t bytes, int64_t recent,
                 std::vector<Node> kids = {}) {
    Node n = folder(path, bytes, std::move(kids));
    n.recentBytes = recent;
    return n;
  };
  Node root = grew(
      "/home/u", 14 * kGiB, 5 * kGiB + 100 * kMiB,
      {grew("/home/u/.cache", 4 * kGiB, 2 * kGiB, {grew("/home/u/.cache/pip", 3 * kGiB, 2 * kGiB)}),
       grew("/home/u/work", 9 * kGiB, 3 * kGiB,
            {grew("/home/u/work/a", 5 * kGiB, 2 * kGiB), grew("/home/u/work/b", 4 * kGiB, kGiB)}),
       grew("/home/u/.local/share", kGiB, 100 * kMiB)});
  Node top = folder("/", 0, {root});
  int64_t min = 500 * kMiB;

  // Without a baseline: the recent bytes. Containers and "Your files" are
  // explained by the children that carry the growth; a tool cache is
  // reported whole.
  using Paths = std::vector<std::string>;
  auto paths = [](const std::vector<Change>& list) {
    Paths out;
    for (const auto& c : list) out.push_back(c.path);
    return out;
  };
  auto recent = changes(top, std::nullopt, min, 12, p);
  EXPECT_EQ(paths(recent), (Paths{"/home/u/.cache/pip", "/home/u/work/a", "/home/u/work/b"}));
  EXPECT_EQ(recent.back().bytes, 1 * kGiB);

  // Against a baseline: current minus old, missing paths counting 0.
  std::map<std::string, int64_t> old{{"/home/u", 13 * kGiB},
                                     {"/home/u/.cache", 4 * kGiB},
                                     {"/home/u/work", 8 * kGiB},
                                     {"/home/u/work/a", 5 * kGiB},
                                     {"/home/u/work/b", 4 * kGiB}};
  auto grown = changes(top, old, min, 12, p);
  EXPECT_EQ(paths(grown), (Paths{"/home/u/work", "/home/u/.local/share"}));
  EXPECT_EQ(grown.back().bytes, 1 * kGiB);
  EXPECT_TRUE(changes(top, old, 2 * kGiB, 12, p).empty());
}

}  // namespace
}  // namespace norvo::DiskUsage
