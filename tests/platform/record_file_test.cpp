#include "core/platform/record_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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

TEST(RecordFile, FirstWriteCreatesFoldersAndRoundTrips) {
  test::TempDir dir;
  fs::path target = dir.path() / "fresh/store/deep/mark.json";
  record_file::write(mark("a"), target);
  auto back = record_file::read<HungMark>(target);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, mark("a"));
  EXPECT_EQ(test::readFile(target), R"({"name":"a","since":"2026-03-04T00:00:00Z"})");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator{}),
            1);
}

TEST(RecordFile, UnreadableShapesReadAsAbsentAndStayOnDisk) {
  test::TempDir dir;
  EXPECT_FALSE(record_file::read<HungMark>(dir.path() / "missing.json").has_value());
  for (auto [name, content] : std::initializer_list<std::pair<const char*, const char*>>{
           {"empty.json", ""},
           {"truncated.json", R"({"name":"a","si)"},
           {"other.json", R"({"kind":"status","level":"ok"})"},
           {"array.json", "[1,2,3]"}}) {
    auto path = dir.write(name, content);
    EXPECT_FALSE(record_file::read<HungMark>(path).has_value()) << name;
    EXPECT_EQ(test::readFile(path), content) << "a reader must never rewrite " << name;
  }
  // A folder where a file is expected.
  fs::create_directories(dir.path() / "folder.json");
  EXPECT_FALSE(record_file::read<HungMark>(dir.path() / "folder.json").has_value());
  // A FIFO under a record's name with no writer: absent at once, not a reader
  // blocked for good.
  ASSERT_EQ(::mkfifo((dir.path() / "fifo.json").c_str(), 0600), 0);
  EXPECT_FALSE(record_file::read<HungMark>(dir.path() / "fifo.json").has_value());
  // A link is followed only where the caller allows it.
  auto real = dir.write("real.json", R"({"name":"a","since":"2026-03-04T00:00:00Z"})");
  fs::create_symlink(real, dir.path() / "link.json");
  EXPECT_TRUE(record_file::read<HungMark>(dir.path() / "link.json").has_value());
  EXPECT_FALSE(record_file::read<HungMark>(dir.path() / "link.json", record_file::Links::refuse)
                   .has_value());
}

TEST(RecordFile, UnwritableTargetIsSwallowedAndKeepsOldContent) {
  test::TempDir dir;
  fs::path target = dir.path() / "mark.json";
  record_file::write(mark("old"), target);
  // A file where the parent folder should be makes every write fail.
  auto blocker = dir.write("blocked", "x");
  EXPECT_NO_THROW(record_file::write(mark("new"), blocker / "mark.json"));
  EXPECT_FALSE(record_file::writeAtomically(blocker / "mark.json", "{}"));
  if (::geteuid() != 0) {
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(record_file::writeAtomically(target, "{}"));
    ::chmod(dir.path().c_str(), 0755);
  }
  EXPECT_EQ(record_file::read<HungMark>(target)->name, "old");
}

TEST(RecordFile, ConcurrentReadersNeverSeeAPartialRecord) {
  test::TempDir dir;
  fs::path target = dir.path() / "mark.json";
  // Large records make a torn write likely if the write were not atomic.
  std::string big(200000, 'x');
  record_file::write(mark("0" + big), target);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, reads{0};
  std::thread reader([&] {
    while (!stop) {
      auto m = record_file::read<HungMark>(target);
      if (!m || m->name.size() != big.size() + 1) ++bad;
      ++reads;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < 100; ++i) record_file::write(mark(std::to_string(w) + big), target);
    });
  for (auto& t : writers) t.join();
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(reads.load(), 0);
}

TEST(StoreDirectory, FollowsXdgDataHome) {
  EXPECT_EQ(NorvoStore::directoryFor("/data", "/home/owner"), fs::path("/data/ZemraNorvo"));
  // Relative XDG values are invalid by the XDG spec and ignored.
  EXPECT_EQ(NorvoStore::directoryFor("relative", "/home/owner"),
            fs::path("/home/owner/.local/share/ZemraNorvo"));
  EXPECT_EQ(NorvoStore::directoryFor(nullptr, "/home/owner"),
            fs::path("/home/owner/.local/share/ZemraNorvo"));
  EXPECT_EQ(NorvoStore::directoryFor("", "/home/owner"),
            fs::path("/home/owner/.local/share/ZemraNorvo"));
}

TEST(StoreDirectory, IsComputedOnceAndNotCreated) {
  const fs::path& first = NorvoStore::directory();
  EXPECT_EQ(first.filename(), "ZemraNorvo");
  std::string xdg = std::getenv("XDG_DATA_HOME");
  EXPECT_EQ(first.parent_path(), fs::path(xdg));
  EXPECT_FALSE(fs::exists(first));
  ::setenv("XDG_DATA_HOME", "/elsewhere", 1);
  EXPECT_EQ(&NorvoStore::directory(), &first);
  EXPECT_EQ(NorvoStore::directory().parent_path(), fs::path(xdg));
  ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
}

}  // namespace
}  // namespace norvo
