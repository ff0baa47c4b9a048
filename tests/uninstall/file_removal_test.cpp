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

  struct Case {
    fs::path path;
    ItemCheck check;
  };
  const Case cases[] = {
      {home / ".config/App", ItemCheck::present},
      {home / ".config/Linked", ItemCheck::outside},       // a link itself
      {home / ".config/Linked/file", ItemCheck::outside},  // through a link
      {home / ".cache/App", ItemCheck::outside},           // a folder on the way is a link
      {home / ".config/../../outside/App", ItemCheck::outside},
      {dir.path() / "outside/App", ItemCheck::outside},
      {home, ItemCheck::outside},
      {home / ".config/Gone", ItemCheck::gone},
      {home / ".nothing/Gone", ItemCheck::gone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(checkBelow(home, c.path), c.check) << c.path;
    if (c.check == ItemCheck::present) continue;
    auto refused = deleteBelow(home, c.path);
    EXPECT_FALSE(refused.ok) << c.path;
    EXPECT_EQ(refused.check, c.check) << c.path;
    EXPECT_EQ(trashBelow(home, c.path).check, c.check) << c.path;
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
  auto measured = measureBytes(home / ".config/App", std::chrono::steady_clock::time_point::max());
  EXPECT_EQ(measured, preview.bytes);
  // The hard-linked file counts once.
  EXPECT_LT(preview.bytes, 2 * 10000 + 5 * 4096);
  EXPECT_FALSE(measureBytes(home / ".config/App", std::chrono::steady_clock::now()));

  auto removed = deleteBelow(home, home / ".config/App");
  EXPECT_TRUE(removed.ok) << removed.message;
  EXPECT_EQ(removed.bytes, preview.bytes);
  EXPECT_FALSE(fs::exists(home / ".config/App"));
  EXPECT_EQ(test::readFile(dir.path() / "outside/data/file"), "keep");
  EXPECT_TRUE(canListFolder(home / ".config"));
  EXPECT_FALSE(canListFolder(home / ".config/App"));
}

}  // namespace
}  // namespace norvo::platform
