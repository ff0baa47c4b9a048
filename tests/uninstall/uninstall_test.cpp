// The uninstaller on a fixture home: apps whose ids share prefixes, names that
// differ only in case, leftovers that are links or lie inside one, items that
// vanish or resist, a running app. Every test shows that nothing but the app
// and its chosen leftovers leaves the disk.
#include "core/uninstall/uninstall.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo::Uninstall {
namespace {

namespace fs = std::filesystem;

// A home with four AppImages, two Flatpak apps, an unpacked app with its
// desktop entry, their data, and data of nobody's; a folder outside home that
// links point to; a store.
struct FixtureHome {
  test::TempDir dir;
  fs::path home = dir.path() / "home";
  fs::path outside = dir.path() / "outside";
  Context context;
  ProcessReadings processes;

  FixtureHome() {
    context.places = platform::AppPlaces::under(home, dir.path() / "var/lib/flatpak");
    context.store = dir.path() / "store";
    context.readProcesses = [this] { return processes; };
    for (const char* program :
         {"Applications/Example-1.2.0-x86_64.AppImage", "Applications/ExampleHelper-2.0.AppImage",
          "Apps/Notes-1.0.AppImage", ".local/bin/notes-2.0.AppImage",
          "Applications/ZemraNorvo.AppImage", ".local/opt/tool/bin/tool"})
      put(program, "ELF");
    put(".local/share/applications/appimagekit-example.desktop",
        "[Desktop Entry]\nName=Example Editor\nIcon=appimagekit_0f3c_example\nExec=\"" +
            (home / "Applications/Example-1.2.0-x86_64.AppImage").string() + "\" %U\n");
    // The integration's icons go with the AppImage; an icon two entries name
    // is neither's, and one reached through a link is nobody's to take.
    put(".local/share/icons/hicolor/256x256/apps/appimagekit_0f3c_example.png", "PNG");
    put(".local/share/icons/hicolor/scalable/apps/appimagekit_0f3c_example.svg", "<svg/>");
    put(".local/share/icons/hicolor/48x48/apps/suite.png", "PNG");
    put("outside/icons/tool.png", "PNG");
    put(".local/share/applications/com.example.Tool.desktop",
        "[Desktop Entry]\nName=Tool\nIcon=tool\nExec=env A=1 " +
            (home / ".local/opt/tool/bin/tool").string() + " %F\n");
    // A suite: two programs in sub-folders of one folder are two apps.
    for (const char* app : {"alpha", "beta"}) {
      put(fs::path(".local/opt/suite") / app / "bin/run", "ELF");
      put(fs::path(".local/share/applications") / (std::string("com.suite.") + app + ".desktop"),
          "[Desktop Entry]\nIcon=suite\nExec=" +
              (home / ".local/opt/suite" / app / "bin/run").string() + "\n");
    }
    for (const char* id : {"org.example.App", "org.example.AppHelper"}) {
      auto active = fs::path(".local/share/flatpak/app") / id / "current/active";
      put(active / "metadata", "[Application]\n");
      put(active / "files/share/metainfo" / (std::string(id) + ".metainfo.xml"),
          "<component><releases><release version=\"3.1\"/></releases></component>");
      put(".var/app/" + std::string(id) + "/config/settings", "x");
    }
    dir.write("var/lib/flatpak/app/org.example.Shared/current/active/metadata", "[Application]\n");
    for (const char* data : {".config/Example/settings.json", ".cache/example/blob",
                             ".config/ExampleHelper/settings.json", ".config/notes/list",
                             "Documents/Example/report.txt", "outside/precious/data"})
      put(data, "data");
    fs::create_directory_symlink(outside / "precious", home / ".config/Example/shortcut");
    fs::create_directories(outside / "state/Example");
    fs::create_directory_symlink(outside / "precious", home / ".local/share/Example");
    fs::create_directory_symlink(outside / "state", home / ".local/state");
    fs::create_directories(home / ".local/share/icons/hicolor/64x64/apps");
    fs::create_symlink(outside / "icons/tool.png",
                       home / ".local/share/icons/hicolor/64x64/apps/tool.png");
  }

  void put(const fs::path& relative, const std::string& content) {
    dir.write(relative.begin()->string() == "outside" ? relative : fs::path("home") / relative,
              content);
  }

  std::vector<App> apps() { return installedApps(false, 0, context); }
  App app(const std::string& name) { return *find(name, apps()); }
  std::string at(const fs::path& relative) const { return (home / relative).string(); }

  // The leftovers offered for `a`, as paths.
  std::vector<std::string> chosen(const App& a) {
    std::vector<std::string> out;
    for (const auto& l : leftovers(a, apps(), false, 0, context)) out.push_back(l.path);
    return out;
  }

  // Every file and link below the fixture's top folder, the Trash aside.
  std::set<std::string> files() const {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(dir.path());
         it != fs::recursive_directory_iterator(); ++it)
      if (!it->is_directory() || it->is_symlink()) out.insert(it->path().string());
    return out;
  }
};

RunOptions permanently() {
  RunOptions options;
  options.permanently = true;
  return options;
}

// An AppImage's version from its file name and the measured size reach the
// agents' installed_apps list, which the agent tools' test checks.
TEST(UninstallInstalledApps, ListsEachKindButTheProduct) {
  FixtureHome f;
  std::vector<std::string> names;
  for (const auto& a : f.apps()) names.push_back(a.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Example", "ExampleHelper", "Notes", "alpha", "beta",
                                             "notes", "org.example.App", "org.example.AppHelper",
                                             "org.example.Shared", "tool"}));
  EXPECT_EQ(f.app("beta").path, f.at(".local/opt/suite/beta"));
  auto example = f.app("example");  // found ignoring case
  EXPECT_EQ(example.path, f.at("Applications/Example-1.2.0-x86_64.AppImage"));
  EXPECT_EQ(f.app("Tool").bundleID, "com.example.Tool");
  EXPECT_EQ(f.app(f.at(".local/opt/tool")).name, "tool");
  EXPECT_FALSE(find("ZemraNorvo", f.apps()));
  EXPECT_FALSE(find("  ", f.apps()));
}

// Which names belong to which app is the leftover rules' table; here the
// same rules meet real folders, links and icons two entries share.
TEST(UninstallLeftovers, NoOtherAppsDataAndNothingThroughLinks) {
  FixtureHome f;
  auto example = f.app("Example");
  const std::string icons = ".local/share/icons/hicolor/";
  EXPECT_EQ(f.chosen(example),
            (std::vector{f.at(".config/Example"), f.at(".cache/example"),
                         f.at(".local/share/applications/appimagekit-example.desktop"),
                         f.at(icons + "256x256/apps/appimagekit_0f3c_example.png"),
                         f.at(icons + "scalable/apps/appimagekit_0f3c_example.svg")}));
  for (const char* shared : {"alpha", "beta", "tool"})
    for (const auto& l : f.chosen(f.app(shared)))
      EXPECT_EQ(l.find("/icons/"), std::string::npos) << shared << ": " << l;
  EXPECT_EQ(f.chosen(f.app("org.example.App")), std::vector{f.at(".var/app/org.example.App")});
  // "Notes" and "notes" are two apps: neither takes ~/.config/notes.
  EXPECT_TRUE(f.chosen(f.app(f.at("Apps/Notes-1.0.AppImage"))).empty());
}

TEST(UninstallRun, RemovesTheAppAndChosenLeftoversOnly) {
  FixtureHome f;
  auto example = f.app("Example");
  auto chosen = f.chosen(example);
  auto before = f.files();
  std::vector<std::string> refused{f.at(".local/share/Example"),  // a link out of home
                                   f.at(".local/state/Example"),  // inside a link
                                   (f.outside / "precious").string(),
                                   f.at("Documents/Example"),  // not a data folder
                                   f.at(".config/Example/../notes")};
  auto requested = chosen;
  requested.insert(requested.end(), refused.begin(), refused.end());
  auto result = run(example.path, requested, permanently(), f.context);

  auto expectedDeleted = chosen;
  expectedDeleted.insert(expectedDeleted.begin(), example.path);
  EXPECT_EQ(result.deleted, expectedDeleted);
  EXPECT_TRUE(result.trashed.empty());
  ASSERT_EQ(result.errors.size(), refused.size());
  for (size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(result.errors[i], refused[i] + ": refused (outside home or a link)");
    EXPECT_EQ(result.failures[i].kind, Failure::Kind::refused);
  }
  // Exactly the removed items' files are gone; everything else is untouched.
  auto after = f.files();
  for (const auto& p : before) {
    if (after.count(p)) continue;
    bool removedItem = false;
    for (const auto& d : expectedDeleted) removedItem |= p == d || p.starts_with(d + "/");
    EXPECT_TRUE(removedItem) << p;
  }
  EXPECT_TRUE(fs::exists(f.outside / "precious/data"));
  EXPECT_TRUE(fs::exists(f.home / ".config/notes/list"));
  EXPECT_TRUE(savedFailures(f.context.store).empty());  // refusals are not retried

  auto logged = NorvoStore::recentActions(1, f.context.store);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(std::tuple(logged[0].kind, logged[0].actor, logged[0].name),
            std::tuple("uninstall", "owner", "Example"));
}

TEST(UninstallRun, RefusesWhatIsNotOfferedOrRunning) {
  FixtureHome f;
  auto before = f.files();
  auto product = f.at("Applications/ZemraNorvo.AppImage");
  EXPECT_EQ(run(product, {}, {}, f.context).errors,
            std::vector{product + ": not an installed app Zemra Norvo offers"});

  auto example = f.app("Example");
  ProcessReading runtime;
  runtime.pid = 4242;
  runtime.path = example.path;  // an AppImage's runtime runs as the file itself
  f.processes[runtime.pid] = runtime;
  EXPECT_EQ(run(example.path, {f.at(".config/Example")}, {}, f.context).errors,
            std::vector<std::string>{"Example is running: quit it first"});
  EXPECT_EQ(f.files(), before);

  // A Flatpak app runs in its scope, whatever its executable's path reads.
  ProcessReading sandboxed;
  sandboxed.pid = 4343;
  sandboxed.path = "/app/bin/example";
  sandboxed.appEntry = "/var/lib/flatpak/exports/share/applications/org.example.App.desktop";
  f.processes = {{sandboxed.pid, sandboxed}};
  EXPECT_EQ(processes(f.app("org.example.App"), f.processes), std::vector<int32_t>{4343});
  EXPECT_TRUE(processes(f.app("org.example.AppHelper"), f.processes).empty());
}

TEST(UninstallRun, LeftoverGoneOrSwappedForALinkBeforeRemoval) {
  FixtureHome f;
  auto example = f.app("Example");
  auto chosen = f.chosen(example);
  fs::remove_all(f.home / ".cache/example");                      // the owner deleted it meanwhile
  fs::rename(f.home / ".config/Example", f.outside / "Example");  // and swapped this for a link
  fs::create_directory_symlink(f.outside / "Example", f.home / ".config/Example");
  auto result = run(example.path, chosen, permanently(), f.context);
  ASSERT_EQ(result.failures.size(), 2u);
  EXPECT_EQ(result.failures[0].kind, Failure::Kind::refused);
  const auto& gone = result.failures[1];
  EXPECT_EQ(std::tuple(gone.path, gone.reason, gone.kind),
            std::tuple(f.at(".cache/example"), "not found again, left alone", Failure::Kind::gone));
  EXPECT_TRUE(fs::exists(f.outside / "Example/settings.json"));
  EXPECT_TRUE(savedFailures(f.context.store).empty());
}

TEST(UninstallRetry, ProtectedSandboxRetriedAfterAccessIsGranted) {
  FixtureHome f;
  auto app = f.app("org.example.App");
  auto sandbox = f.at(".var/app/org.example.App");
  bool granted = false;
  // The app itself goes through flatpak; here only its sandbox is asked for.
  auto options = permanently();
  options.remove = [&](const std::string& path) {
    if (path == sandbox && !granted)
      return platform::Removal{false, 0, EACCES, path + ": Permission denied"};
    return deleteNow(path, f.home);
  };
  auto first = run(app.path, {sandbox}, options, f.context);
  auto saved = savedFailures(f.context.store);
  ASSERT_EQ(saved.size(), first.failures.size());
  auto protectedOne =
      std::find_if(saved.begin(), saved.end(), [&](auto& s) { return s.path == sandbox; });
  ASSERT_NE(protectedOne, saved.end());
  EXPECT_EQ(protectedOne->kind, Failure::Kind::protected_);
  EXPECT_TRUE(fs::exists(sandbox));
  EXPECT_TRUE(canAccess(*protectedOne));

  if (::geteuid() != 0) {  // root reads every folder whatever its mode
    fs::permissions(fs::path(sandbox) / "config", fs::perms::none);
    EXPECT_FALSE(canAccess(*protectedOne));
    fs::permissions(fs::path(sandbox) / "config", fs::perms::owner_all);
  }
  granted = true;
  auto second = retry(true, true, options.remove, f.context);
  EXPECT_NE(std::find(second.deleted.begin(), second.deleted.end(), sandbox), second.deleted.end());
  EXPECT_FALSE(fs::exists(sandbox));
  EXPECT_TRUE(fs::exists(f.home / ".var/app/org.example.AppHelper/config/settings"));
}

TEST(UninstallRun, FlatpakAppsGoThroughFlatpak) {
  FixtureHome f;
  // A stand-in flatpak first on the PATH: it records its arguments, and
  // removes the deployment the way the real one does, unless told to fail.
  auto args = f.outside / "args", fail = f.outside / "fail";
  auto script = f.dir.write("bin/flatpak", "#!/bin/sh\necho \"$@\" > '" + args.string() +
                                               "'\n[ -e '" + fail.string() +
                                               "' ] && { echo 'error: app is busy' >&2; exit 1; }\n"
                                               "rm -rf '" +
                                               f.at(".local/share/flatpak/app") + "'/\"$4\"\n");
  fs::permissions(script, fs::perms::owner_all);
  test::ScopedEnv path("PATH", (f.dir.path() / "bin").string() + ":" + std::getenv("PATH"));
  auto app = f.app("org.example.App");
  f.put("outside/fail", "");
  EXPECT_EQ(
      run(app.path, {}, {}, f.context).errors,
      std::vector<std::string>{"org.example.App: flatpak uninstall failed: error: app is busy"});
  fs::remove(fail);
  auto removed = run(app.path, {f.at(".var/app/org.example.App")}, {}, f.context);
  EXPECT_EQ(test::readFile(args), "uninstall --user --noninteractive org.example.App\n");
  EXPECT_EQ(removed.deleted, std::vector{app.path});
  EXPECT_EQ(removed.trashed, std::vector{f.at(".var/app/org.example.App")});
  EXPECT_TRUE(fs::exists(f.home / ".local/share/flatpak/app/org.example.AppHelper"));
  EXPECT_TRUE(fs::exists(f.home / ".var/app/org.example.AppHelper"));

  // An app installed for all users needs an administrator: the owner is told
  // the command, and nothing is run.
  auto shared = f.app("org.example.Shared");
  EXPECT_EQ(run(shared.path, {}, {}, f.context).errors,
            std::vector<std::string>{shared.path +
                                     ": installed for all users; run `flatpak uninstall --system "
                                     "org.example.Shared` as an administrator"});
  EXPECT_TRUE(fs::exists(shared.path));
}

TEST(UninstallAnswer, AcceptedAppImageGoesToTheFreedesktopTrash) {
  // The test run's own XDG_DATA_HOME, on the same file system as the fixture;
  // emptied so that an earlier run's items keep their names.
  fs::path trash = fs::path(std::getenv("XDG_DATA_HOME")) / "Trash";
  fs::remove_all(trash);
  FixtureHome f;
  auto example = f.app("Example");
  auto declined =
      answer(UninstallSuggestion::make("unused", example.name, example.path), false, f.context);
  EXPECT_EQ(declined.status, "declined");
  EXPECT_TRUE(fs::exists(example.path));

  auto filed = UninstallSuggestion::make("the disk is full", example.name, example.path);
  NorvoStore::addUninstall(filed, f.context.store);
  auto expected = f.chosen(example);
  expected.insert(expected.begin(), example.path);
  Result result;
  auto answered = answer(filed, true, f.context, &result);
  EXPECT_EQ(result.trashed, expected);
  EXPECT_TRUE(result.errors.empty());
  EXPECT_EQ(std::tuple(answered.status, answered.removed, answered.deleted, answered.bytes),
            std::tuple("accepted", true, std::optional(false), result.bytes));
  auto stored = NorvoStore::uninstall(filed.id, f.context.store);
  ASSERT_TRUE(stored);
  EXPECT_EQ(std::pair(stored->status, stored->bytes), std::pair(answered.status, answered.bytes));
  EXPECT_TRUE(NorvoStore::pendingUninstalls(f.context.store).empty());

  auto name = fs::path(example.path).filename().string();
  EXPECT_EQ(test::readFile(trash / "files" / name), "ELF");
  EXPECT_TRUE(fs::exists(trash / "files/Example/settings.json"));
}

TEST(UninstallFailures, KindsByErrorAndPlace) {
  for (auto [code, path, kind] : std::vector<std::tuple<int, std::string, Failure::Kind>>{
           {EACCES, "/h/.var/app/org.example.App", Failure::Kind::protected_},
           {EPERM, "/h/.var/app/org.example.App/data", Failure::Kind::protected_},
           {EPERM, "/h/Applications/Example.AppImage", Failure::Kind::permission},
           {ENOENT, "/h/.var/app/org.example.App", Failure::Kind::other}})
    EXPECT_EQ(kindOf(code, path), kind) << path;
}

}  // namespace
}  // namespace norvo::Uninstall
