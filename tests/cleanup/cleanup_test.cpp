// The cleanup catalogue over a home built here, its thresholds and busy rule,
// and the runner on adversarial trees: nothing outside the target may change.
#include "core/cleanup/cleanup.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cleanup_fixture.hpp"
#include "core/store/norvo_store.hpp"
#include "real_processes.hpp"

namespace norvo::Cleanup {
namespace {

namespace fs = std::filesystem;
using test::age;
using test::treeOf;

std::vector<std::string> idsOf(const std::vector<Item>& items) {
  std::vector<std::string> ids;
  for (const auto& i : items) ids.push_back(i.id);
  return ids;
}

const Item* itemNamed(const std::vector<Item>& items, const std::string& id) {
  for (const auto& i : items)
    if (i.id == id) return &i;
  return nullptr;
}

// The sentence a removal refused at the moment of acting leaves.
std::string refused(const fs::path& p) { return p.string() + ": refused (outside home or a link)"; }

// Why the item `id` waits, "" when it does not; an item not offered at all
// fails the test.
std::string skippedOf(const std::vector<Item>& items, const std::string& id) {
  const auto* item = itemNamed(items, id);
  EXPECT_TRUE(item) << id << " is not offered";
  return item ? item->skipped.value_or("") : "";
}

TEST(CleanupCatalogue, FindsWhatQualifiesOverAFixtureHome) {
  test::CleanupHome h;
  const auto& home = h.home;
  h.write(home / ".cache/pip/http/abc", std::string(5000, 'p'));
  fs::create_directories(home / ".npm/_cacache");  // empty: nothing to clean
  // Installers: an old Debian package and AppImage, a fresh ISO, a text file.
  for (const auto& [name, days] : std::vector<std::pair<std::string, double>>{
           {"tool.deb", 2}, {"Old.AppImage", 3}, {"fresh.iso", 0.5}, {"notes.txt", 9}})
    age(h.write(home / "Downloads" / name, "x"), days);
  age(h.write(home / "Downloads/film.mkv.part", "x"), 2);
  // Projects: one idle for 8 days, one changed yesterday, one in Documents.
  h.write(home / "Projects/idle/node_modules/a/index.js", "x");
  age(h.write(home / "Projects/idle/package.json", "{}"), 8);
  h.write(home / "Projects/busy/node_modules/a/index.js", "x");
  age(h.write(home / "Projects/busy/package.json", "{}"), 1);
  h.write(home / "Documents/GitHub/app/.build/debug/app", "x");
  age(h.write(home / "Documents/GitHub/app/Package.swift", "//"), 30);
  // Temporary entries: old, recent, old but with a recent file inside.
  age(h.write(h.tmp / "old.txt", "x"), 4);
  age(h.write(h.tmp / "new.txt", "x"), 1);
  age(h.write(h.tmp / "session/recent", "x"), 0);
  age(h.tmp / "session", 10);
  age(h.write(h.tmp / "systemd-private-x/f", "x"), 9);
  age(h.tmp / "systemd-private-x", 9);
  // Logs: by name or folder, old enough, under the state and cache folders.
  age(h.write(home / ".local/state/app/app.log", "x"), 40);
  age(h.write(home / ".local/state/app/data.db", "x"), 40);
  age(h.write(home / ".cache/tool/logs/run.txt", "x"), 31);
  age(h.write(home / ".cache/tool/new.log", "x"), 2);
  // Tool versions side by side; 1.0.9 is linked from ~/.local/bin, so in use.
  auto versions = home / ".local/share/claude/versions";
  for (const char* v : {"1.0.2", "1.0.9", "1.0.10"}) h.write(versions / v, "binary");
  fs::create_directories(home / ".local/bin");
  fs::create_symlink(versions / "1.0.9", home / ".local/bin/claude");
  // Two copies of one AppImage.
  h.write(home / "Applications/Tool-1.2.AppImage", "ELF");
  h.write(home / "Applications/Tool-1.10.AppImage", "ELF");

  auto config = NorvoConfig::defaults();
  auto closed = preview(config, 10, false, h.context);
  EXPECT_EQ(idsOf(closed),
            (std::vector<std::string>{"pip-cache", "project-build-folders", "temp-files",
                                      "old-logs", "old-app-versions", "old-tool-versions"}));
  auto open = preview(config, 10, true, h.context);
  struct Expected {
    std::string id;
    std::vector<fs::path> paths;
  };
  const Expected expected[] = {
      {"pip-cache", {home / ".cache/pip"}},
      {"installers", {home / "Downloads/Old.AppImage", home / "Downloads/tool.deb"}},
      {"project-build-folders",
       {home / "Documents/GitHub/app/.build", home / "Projects/idle/node_modules"}},
      {"temp-files", {h.tmp / "old.txt"}},
      {"old-logs", {home / ".cache/tool/logs/run.txt", home / ".local/state/app/app.log"}},
      {"partial-downloads", {home / "Downloads/film.mkv.part"}},
      {"old-app-versions", {home / "Applications/Tool-1.2.AppImage"}},
      {"old-tool-versions", {versions / "1.0.2"}},
  };
  for (const auto& e : expected) {
    const auto* item = itemNamed(open, e.id);
    ASSERT_TRUE(item) << e.id;
    EXPECT_EQ(std::vector<fs::path>(item->paths.begin(), item->paths.end()), e.paths) << e.id;
  }
}

TEST(CleanupCatalogue, ABusyToolMakesItsItemsWaitAtPreviewAndAtRun) {
  test::CleanupHome h;
  h.write(h.home / ".cache/yarn/v6/pkg", "y");
  h.write(h.home / ".cache/pip/wheel", "w");
  h.write(h.home / "Library/Developer/Xcode/DerivedData/App-abc/Build/x.o", "o");
  // Another user's yarn (a build server's, say) is not the owner's.
  h.running("yarn", h.context.places.user + 1);
  h.running("XCBBuildService", h.context.places.user);
  auto items = preview(NorvoConfig::defaults(), 5, false, h.context);
  EXPECT_EQ(skippedOf(items, "yarn-cache"), "");
  EXPECT_EQ(skippedOf(items, "xcode-derived-data"), "XCBBuildService is running");

  // The owner's own yarn, started under that name, read from the real table.
  test::Processes processes;
  auto yarn = test::copyProgram("/bin/sleep", h.dir.path() / "bin/yarn");
  processes.start({"yarn", "30"}, yarn);
  h.context.readProcesses = [&] {
    return test::readUntil(ProcessTable::shared(), [](const ProcessReadings& r) {
      return std::any_of(r.begin(), r.end(), [](const auto& p) { return p.second.name == "yarn"; });
    });
  };
  auto before = treeOf(h.home);
  items = preview(NorvoConfig::defaults(), 5, false, h.context);
  EXPECT_EQ(skippedOf(items, "yarn-cache"), "yarn is running");
  EXPECT_EQ(skippedOf(items, "pip-cache"), "");

  auto result = run({"yarn-cache"}, NorvoConfig::defaults(), {}, h.context);
  EXPECT_TRUE(result.cleaned.empty());
  EXPECT_EQ(result.skipped,
            (std::map<std::string, std::string>{{"yarn-cache", "yarn is running"}}));
  EXPECT_EQ(treeOf(h.home), before);
  EXPECT_TRUE(NorvoStore::recentActions(10, h.store).empty());
}

TEST(CleanupSafety, TheCheckRefusesEscapesShortPathsAndLinks) {
  test::CleanupHome h;
  const auto& home = h.home;
  h.write(home / ".cache/pip/x", "x");
  fs::create_directory_symlink(h.outside, home / ".cache/linked");
  for (const auto& [path, safe] : std::vector<std::pair<fs::path, std::optional<fs::path>>>{
           {home / ".cache/pip", home / ".cache/pip"},
           {home / ".cache/pip/", home / ".cache/pip"},
           {home / ".cache/../.cache/pip", home / ".cache/pip"},
           {home / ".cache/pip/../../../outside/keep", std::nullopt},
           {home / "..", std::nullopt},
           {home, std::nullopt},
           {home / "a", std::nullopt},  // one character past the home folder
           {home / ".cache/linked", std::nullopt},
           {home / ".cache/linked/keep", std::nullopt},
           {h.outside / "keep", std::nullopt},
           {".cache/pip", std::nullopt}})
    EXPECT_EQ(safePath(path, home), safe) << path;
}

// Each adversarial tree is cleaned and must leave `outside` exactly as it was:
// the same number of files with the same contents.
class CleanupAdversarial : public ::testing::Test {
 protected:
  void expectOutsideUnchanged(const std::function<void()>& act) {
    auto before = treeOf(h.outside);
    act();
    EXPECT_EQ(treeOf(h.outside), before);
  }
  Result clean(const std::vector<std::string>& ids) {
    return run(ids, NorvoConfig::defaults(), {}, h.context);
  }
  test::CleanupHome h;
};

TEST_F(CleanupAdversarial, ALinkInsideACacheIsRefusedAndTheRestGoes) {
  auto homebrew = h.home / ".cache/Homebrew";
  h.write(homebrew / "downloads/pkg.tar.gz", "pkg");
  fs::create_directory_symlink(h.outside / "keep", homebrew / "escape");
  fs::create_directory_symlink(h.outside / "keep", homebrew / "downloads/deep-link");
  expectOutsideUnchanged([&] {
    auto items = preview(NorvoConfig::defaults(), 5, false, h.context);
    ASSERT_TRUE(itemNamed(items, "homebrew-cache"));  // the folder's item still appears
    auto r = clean({"homebrew-cache"});
    EXPECT_EQ(r.errors, std::vector{refused(homebrew / "escape")});
  });
  EXPECT_FALSE(fs::exists(homebrew / "downloads"));  // links deeper down go as links
  EXPECT_TRUE(fs::is_symlink(homebrew / "escape"));
}

TEST_F(CleanupAdversarial, ACacheFolderThatIsALinkOrLeadsOutOfHomeIsNeverOffered) {
  fs::create_directories(h.home / ".cache");
  fs::create_directory_symlink(h.outside / "keep", h.home / ".cache/pip");
  h.write(h.outside / "cache/go-build/00/obj", "o");
  expectOutsideUnchanged([&] {
    EXPECT_FALSE(itemNamed(preview(NorvoConfig::defaults(), 5, false, h.context), "pip-cache"));
    EXPECT_EQ(clean({"pip-cache"}).skipped.at("pip-cache"), "nothing to clean");
    // A cache home given with ".." that leads out of the home folder.
    h.context.places.cacheHome = h.home / "../outside/cache";
    EXPECT_EQ(clean({"go-build-cache"}).skipped.at("go-build-cache"), "nothing to clean");
  });
}

TEST_F(CleanupAdversarial, FoldersSwappedForLinksBetweenPreviewAndRunAreRefused) {
  auto goBuild = h.home / ".cache/go-build";
  h.write(goBuild / "00/obj", "o");
  h.write(h.home / "Projects/web/node_modules/x/i.js", "x");
  age(h.write(h.home / "Projects/web/package.json", "{}"), 9);
  age(h.write(h.home / "Downloads/setup.rpm", "rpm"), 3);
  ASSERT_TRUE(NorvoStore::setScanUserFolders(true, h.store));
  // Right after the run computed its catalogue, each target becomes a link
  // to the folder outside.
  h.context.beforeRemoving = [&](const std::string& id) {
    auto swap = [&](const fs::path& target) {
      fs::rename(target, h.dir.path() / ("moved-" + id));
      fs::create_directory_symlink(h.outside / "keep", target);
    };
    if (id == "go-build-cache") swap(goBuild);
    if (id == "project-build-folders") swap(h.home / "Projects/web/node_modules");
    if (id == "installers") swap(h.home / "Downloads/setup.rpm");
  };
  expectOutsideUnchanged([&] {
    auto r = clean({"go-build-cache", "project-build-folders", "installers"});
    EXPECT_EQ(r.errors, (std::vector<std::string>{refused(goBuild),
                                                  refused(h.home / "Projects/web/node_modules"),
                                                  refused(h.home / "Downloads/setup.rpm")}));
    auto log = NorvoStore::recentActions(10, h.store);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0].detail.find(" · 1 error(s)"), std::string::npos) << log[0].detail;
  });
}

TEST_F(CleanupAdversarial, NamesWithNewlinesAndReadOnlyFilesAreRemovedInside) {
  auto pip = h.home / ".cache/pip";
  h.write(pip / "line\nbreak", "x");
  h.write(pip / "wheels/..\n..", "x");
  auto readOnly = h.write(pip / "wheels/locked.whl", "x");
  fs::permissions(readOnly, fs::perms::owner_read);
  h.write(pip / "sealed/inner", "x");
  fs::permissions(pip / "sealed", fs::perms::owner_read | fs::perms::owner_exec);
  expectOutsideUnchanged([&] {
    auto r = clean({"pip-cache"});
    if (::geteuid() == 0) {
      EXPECT_TRUE(r.errors.empty()) << r.errors.front();
    } else {
      // A folder the owner made read-only keeps what is inside, with the reason.
      EXPECT_EQ(r.errors,
                std::vector<std::string>{(pip / "sealed").string() + ": Permission denied"});
    }
  });
  EXPECT_FALSE(fs::exists(pip / "line\nbreak"));
  EXPECT_FALSE(fs::exists(pip / "wheels"));
  std::error_code ec;  // gone when the owner may remove anything
  fs::permissions(pip / "sealed", fs::perms::owner_all, fs::perm_options::add, ec);
}

TEST_F(CleanupAdversarial, OnlyTheUsersOwnTemporaryEntriesGo) {
  age(h.write(h.tmp / "mine", "x"), 5);
  fs::create_directory_symlink(h.outside / "keep", h.tmp / "a-link");
  age(h.write(h.tmp / "socket-dir/file", "x"), 5);
  ASSERT_EQ(::mkfifo((h.tmp / "socket-dir/pipe").c_str(), 0600), 0);
  age(h.tmp / "socket-dir/pipe", 5);
  age(h.tmp / "socket-dir", 5);
  bool root = ::geteuid() == 0;
  if (root) {
    age(h.write(h.tmp / "theirs/data", "x"), 5);
    age(h.tmp / "theirs", 5);
    ASSERT_EQ(::lchown((h.tmp / "theirs").c_str(), 65534, 65534), 0);
  }
  // A lock file another program holds, however old, is in use.
  auto lock = h.write(h.tmp / "tool.lock", "");
  age(lock, 30);
  int held = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto items = preview(NorvoConfig::defaults(), 5, false, h.context);
  ::close(held);
  ASSERT_TRUE(itemNamed(items, "temp-files"));
  EXPECT_EQ(itemNamed(items, "temp-files")->paths, std::vector{(h.tmp / "mine").string()});
  fs::remove(lock);
  // An entry of the user's that holds another user's file: that file stays.
  age(h.write(h.tmp / "mixed/other", "x"), 5);
  age(h.tmp / "mixed", 5);
  if (root) {
    ASSERT_EQ(::lchown((h.tmp / "mixed/other").c_str(), 65534, 65534), 0);
  }
  expectOutsideUnchanged([&] {
    auto r = clean({"temp-files"});
    if (root) {
      EXPECT_EQ(r.errors,
                std::vector<std::string>{(h.tmp / "mixed").string() + ": Operation not permitted"});
    }
  });
  EXPECT_FALSE(fs::exists(h.tmp / "mine"));
  EXPECT_TRUE(fs::is_symlink(h.tmp / "a-link"));
  EXPECT_TRUE(fs::exists(h.tmp / "socket-dir/pipe"));
  if (root) {
    EXPECT_TRUE(fs::exists(h.tmp / "theirs/data"));
    EXPECT_TRUE(fs::exists(h.tmp / "mixed/other"));
  }
}

TEST(CleanupRun, HomebrewRunsByArgumentVectorWithItsEnvironmentAndTimeLimit) {
  test::CleanupHome h;
  auto calls = h.dir.path() / "calls";
  // A stand-in for brew: the dry run reports, the run records how it was called.
  auto brew = h.write(h.dir.path() / "brew/bin/brew",
                      "#!/bin/sh\n"
                      "echo \"$* $HOMEBREW_NO_AUTO_UPDATE$HOMEBREW_NO_ENV_HINTS\" >> '" +
                          calls.string() +
                          "'\n"
                          "if [ \"$3\" = -n ]; then\n"
                          "  echo 'Would remove: /cellar/tool/1.0 (12 files, 3.1MB)'\n"
                          "  echo '==> This operation would free approximately 3.1MB of disk "
                          "space.'\n"
                          "  exit 0\nfi\n"
                          "[ -f '" +
                          (h.dir.path() / "hang").string() + "' ] && sleep 30\nexit 0\n");
  fs::permissions(brew, fs::perms::owner_all);
  h.context.brewTools = {h.dir.path() / "nowhere/brew", brew};
  auto items = preview(NorvoConfig::defaults(), 10, false, h.context);
  const auto* old = itemNamed(items, "homebrew-old");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->paths, std::vector<std::string>{"/cellar/tool/1.0"});

  auto r = run({"homebrew-old"}, NorvoConfig::defaults(), {}, h.context);
  EXPECT_EQ(r.cleaned, std::vector<std::string>{"homebrew-old"});
  auto log = test::readFile(calls);
  EXPECT_NE(log.find("cleanup --prune=all 11\n"), std::string::npos) << log;

  h.write(h.dir.path() / "hang", "");
  h.context.toolLimit = std::chrono::milliseconds(300);
  auto start = std::chrono::steady_clock::now();
  r = run({"homebrew-old"}, NorvoConfig::defaults(), {}, h.context);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(r.errors, std::vector{brew.string() +
                                  " cleanup --prune=all: timed out after 0.3 s and was stopped"});
}

}  // namespace
}  // namespace norvo::Cleanup
