// Removal of the owner's files at the moment of acting: whatever stands at the
// path then, a link on the way or in place of the item is never followed.
#include "core/platform/file_removal.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo::platform {
namespace {

namespace fs = std::filesystem;

TEST(FileRemoval, RefusesLinksAndEscapesAndTouchesNothing) {
  test::TempDir dir;
  auto home = dir.path() / "home";
  dir.write("home/.config/App/settings", "{}");
  dir.write("outside/data/file", "keep");
  fs::create_directory_symlink(dir.path() / "outside/data", home / ".config/Linked");
  fs::create_directory_symlink(dir.path() / "outside", home / ".cache");
  fs::create_directories(dir.path() / "outside/App");

  for (const auto& [path, check] : std::vector<std::pair<fs::path, ItemCheck>>{
           {home / ".config/App", ItemCheck::present},
           {home / ".config/Linked", ItemCheck::outside},       // a link itself
           {home / ".config/Linked/file", ItemCheck::outside},  // through a link
           {home / ".cache/App", ItemCheck::outside},           // a folder on the way is a link
           {home / ".config/../../outside/App", ItemCheck::outside},
           {dir.path() / "outside/App", ItemCheck::outside},
           {home, ItemCheck::outside},
           {home / ".config/Gone", ItemCheck::gone},
           {home / ".nothing/Gone", ItemCheck::gone}}) {
    EXPECT_EQ(checkBelow(home, path), check) << path;
    if (check == ItemCheck::present) continue;
    auto refused = deleteBelow(home, path);
    EXPECT_FALSE(refused.ok) << path;
    EXPECT_EQ(refused.check, check) << path;
    EXPECT_EQ(trashBelow(home, path).check, check) << path;
  }
  EXPECT_EQ(test::readFile(dir.path() / "outside/data/file"), "keep");
  EXPECT_TRUE(fs::exists(dir.path() / "outside/App"));
}

TEST(FileRemoval, DeletesTheTreeButNotWhatLinksInsidePointTo) {
  test::TempDir dir;
  auto home = dir.path() / "home";
  dir.write("home/.config/App/a/b/c", std::string(10000, 'x'));
  dir.write("outside/data/file", "keep");
  fs::create_directory_symlink(dir.path() / "outside/data", home / ".config/App/a/shortcut");
  fs::create_hard_link(home / ".config/App/a/b/c", home / ".config/App/twin");

  auto preview = deleteBelow(home, home / ".config/App", true);
  ASSERT_TRUE(preview.ok);
  EXPECT_TRUE(fs::exists(home / ".config/App/a/b/c"));
  EXPECT_FALSE(measureBytes(home / ".config/App", std::chrono::steady_clock::now()));

  auto removed = deleteBelow(home, home / ".config/App");
  EXPECT_TRUE(removed.ok) << removed.message;
  EXPECT_FALSE(fs::exists(home / ".config/App"));
  EXPECT_EQ(test::readFile(dir.path() / "outside/data/file"), "keep");
  EXPECT_TRUE(canListFolder(home / ".config"));
  EXPECT_FALSE(canListFolder(home / ".config/App"));
}

}  // namespace
}  // namespace norvo::platform
