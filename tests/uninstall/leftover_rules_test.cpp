// Which entries of the data folders belong to an app, on plain values: the
// rules that keep one app's uninstall from taking another app's data.
#include "core/uninstall/leftover_rules.hpp"

#include <gtest/gtest.h>

#include <map>

namespace norvo::Uninstall {
namespace {

namespace fs = std::filesystem;

TEST(LeftoverRules, MatchesIdentifier) {
  using Case = std::tuple<std::string, std::string, std::vector<std::string>, bool>;
  for (const auto& [entry, id, others, belongs] : std::vector<Case>{
           {"org.example.App", "org.example.App", {}, true},
           {"org.example.App.desktop", "org.example.App", {}, true},
           // A longer id that merely shares the prefix is another app's name.
           {"org.example.AppHelper", "org.example.App", {}, false},
           // The more specific app owns what matches both.
           {"org.example.App.Sync", "org.example.App", {"org.example.App.Sync"}, false},
           {"org.example.App.Sync", "org.example.App", {}, true},
           {"org.example.App.Sync", "org.example.App.Sync", {"org.example.App"}, true},
           {"org.example.Ap", "org.example.App", {}, false},
           {"org.example.app", "org.example.App", {}, false},  // ids are case-sensitive
           {"anything", "", {}, false}})
    EXPECT_EQ(matchesIdentifier(entry, id, others), belongs) << entry << " / " << id;
}

TEST(LeftoverRules, FindsOnlyTheAppsOwnEntriesInsideHome) {
  // A configuration folder outside home is not searched, nor its autostart
  // and systemd folders.
  std::vector<std::string> labels;
  for (const auto& f :
       leftoverFolders("/h", "/h/.local/share", "/etc/xdg", "/h/.cache", "/h/.local/state"))
    labels.push_back(f.label);
  EXPECT_EQ(labels, (std::vector<std::string>{".local/share", ".cache", ".local/state",
                                              ".local/share/applications", ".var/app"}));

  auto folders =
      leftoverFolders("/h", "/h/.local/share", "/h/.config", "/h/.cache", "/h/.local/state");
  std::map<fs::path, std::vector<std::string>> tree{
      {"/h/.local/share",
       {"org.example.App", "Example Editor", "flatpak", "applications", "notes"}},
      {"/h/.config", {"example", "org.example.AppHelper", "org.example.App.Sync", "Notes", "ab"}},
      {"/h/.cache", {"EXAMPLE", "org.example.App.thumbnails"}},
      {"/h/.local/share/applications",
       {"org.example.App.desktop", "org.example.AppHelper.desktop"}},
      {"/h/.config/autostart", {"org.example.App.desktop"}},
      {"/h/.var/app", {"org.example.App", "org.example.AppHelper", "org.example.App.Sync"}},
  };
  auto list = [&](const fs::path& p) {
    return tree.count(p) ? tree.at(p) : std::vector<std::string>{};
  };
  App app{"Example", "/h/Applications/Example.AppImage", "org.example.App"};
  std::vector<App> others{
      {"ExampleHelper", "/h/Applications/ExampleHelper.AppImage", "org.example.AppHelper"},
      {"Sync", "/x/org.example.App.Sync", "org.example.App.Sync"},
      {"notes", "/h/Apps/notes.AppImage"},
      {"Flatpak", "/h/Apps/Flatpak.AppImage"}};
  LeftoverQuery query{app,
                      "Example Editor",
                      {"/h/.local/share/applications/example-launcher.desktop"},
                      {"/h/.local/share/icons/hicolor/48x48/apps/example.png"}};

  auto found = findLeftovers(query, others, folders, list);
  auto at = [](const std::string& path, const std::string& folder, bool byName = false) {
    return Leftover{path, folder, std::nullopt, byName};
  };
  const std::string share = ".local/share", entries = ".local/share/applications";
  std::vector<Leftover> expected{
      at("/h/.local/share/org.example.App", share),
      at("/h/.cache/org.example.App.thumbnails", ".cache"),
      at("/h/.local/share/applications/org.example.App.desktop", entries),
      at("/h/.config/autostart/org.example.App.desktop", ".config/autostart"),
      at("/h/.var/app/org.example.App", ".var/app"),
      at("/h/.config/example", ".config"),
      at("/h/.cache/EXAMPLE", ".cache"),
      at("/h/.local/share/Example Editor", share, true),
      at("/h/.local/share/applications/example-launcher.desktop", entries),
      at("/h/.local/share/icons/hicolor/48x48/apps/example.png", share),
  };
  EXPECT_EQ(found, expected);

  // Names that another app has too, ignoring case, and names too short to
  // tell apart are never used; shared folders of the desktop never go.
  LeftoverQuery notes{App{"Notes", "/h/Apps/Notes.AppImage"}, "ab", {}, {}};
  EXPECT_TRUE(findLeftovers(notes, others, folders, list).empty());
  LeftoverQuery flatpak{App{"flatpak", "/h/Apps/flatpak.AppImage"}, std::nullopt, {}, {}};
  EXPECT_TRUE(findLeftovers(flatpak, {}, folders, list).empty());

  // A desktop entry or icon outside the data folders is not offered.
  LeftoverQuery stray{App{"Stray", "/h/Apps/Stray.AppImage"},
                      std::nullopt,
                      {"/usr/share/applications/x.desktop"},
                      {"/usr/share/icons/hicolor/48x48/apps/x.png"}};
  EXPECT_TRUE(findLeftovers(stray, others, folders, list).empty());
}

}  // namespace
}  // namespace norvo::Uninstall
