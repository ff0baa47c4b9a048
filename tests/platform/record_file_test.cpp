#include "core/platform/record_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/measure/hung_mark.hpp"
#include "core/platform/store_directory.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using NorvoStore::HungMark;

HungMark mark(std::string name) {
  return HungMark{std::move(name), std::chrono::sys_days{std::chrono::year{2026} / 3 / 4}};
}

// Unreadable, odd and concurrently rewritten records are covered through the
// store, which reads and writes every record with these functions.
TEST(RecordFile, FirstWriteCreatesFoldersAndALinkIsFollowedOnlyWhereAllowed) {
  test::TempDir dir;
  fs::path target = dir.path() / "fresh/store/deep/mark.json";
  EXPECT_FALSE(record_file::read<HungMark>(target).has_value());
  record_file::write(mark("a"), target);
  EXPECT_EQ(test::readFile(target), R"({"name":"a","since":"2026-03-04T00:00:00Z"})");
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator{}),
            1);
  fs::create_symlink(target, dir.path() / "link.json");
  EXPECT_EQ(record_file::read<HungMark>(dir.path() / "link.json"), mark("a"));
  EXPECT_FALSE(record_file::read<HungMark>(dir.path() / "link.json", record_file::Links::refuse)
                   .has_value());
}

TEST(RecordFile, UnwritableTargetIsSwallowedAndKeepsOldContent) {
  test::TempDir dir;
  fs::path target = dir.path() / "mark.json";
  record_file::write(mark("old"), target);
  auto blocker = dir.write("blocked", "x");  // a file where the parent folder should be
  EXPECT_FALSE(record_file::writeAtomically(blocker / "mark.json", "{}"));
  if (::geteuid() != 0) {
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(record_file::writeAtomically(target, "{}"));
    ::chmod(dir.path().c_str(), 0755);
  }
  EXPECT_EQ(record_file::read<HungMark>(target)->name, "old");
}

TEST(StoreDirectory, FollowsAbsoluteXdgDataHome) {
  const fs::path fallback = "/home/owner/.local/share/ZemraNorvo";
  EXPECT_EQ(NorvoStore::directoryFor("/data", "/home/owner"), fs::path("/data/ZemraNorvo"));
  for (const char* ignored : {"relative", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(NorvoStore::directoryFor(ignored, "/home/owner"), fallback);
}

// Temporaries of writers that died are swept; a live writer's are not.
TEST(TemporariesSweep, RemovesOnlyWhatDeadWritersLeft) {
  test::TempDir dir;
  // pid 2^22 + 1 is above the kernel's largest pid, so no process has it.
  auto dead = dir.write(".status.json.tmp.4194305.0.1", "{");
  auto live = dir.write(".status.json.tmp." + std::to_string(::getpid()) + ".0.1", "{");
  auto record = dir.write("status.json", "{}");
  auto hidden = dir.write(".hidden", "x");
  EXPECT_EQ(record_file::sweepStaleTemporaries(dir.path()), 1);
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_TRUE(std::filesystem::exists(live));
  EXPECT_TRUE(std::filesystem::exists(record));
  EXPECT_TRUE(std::filesystem::exists(hidden));
}

}  // namespace
}  // namespace norvo
