// The pure rules of the catalogue, on literal text.
#include "core/cleanup/cleanup_parsers.hpp"

#include <gtest/gtest.h>

#include "core/cleanup/cleanup_digest.hpp"

namespace norvo::Cleanup::parsers {
namespace {

TEST(CleanupParsers, VersionNamesNumbersAndOrder) {
  struct Name {
    const char* text;
    bool version;
  };
  for (const auto& n :
       {Name{"1.2.3", true}, Name{"v20.11.0", true}, Name{"2.0.14-beta.1", true},
        Name{"1.2.3.4.5", true}, Name{"1.2.3-", false}, Name{"12", false}, Name{"v3", false},
        Name{"latest", false}, Name{"1.2.3 copy", false}, Name{"node-18.0.0", false}})
    EXPECT_EQ(isVersionName(n.text), n.version) << n.text;

  struct Numbers {
    const char* text;
    std::vector<int64_t> v;
  };
  for (const auto& n : {Numbers{"Tool-2.10.1.AppImage", {2, 10, 1}},
                        Numbers{"1,234.5 then 3.4", {3, 4}},  // no version after a comma
                        Numbers{"build 42", {}}, Numbers{"1.2.3.4.5", {1, 2, 3, 4}},
                        Numbers{"99999999999999999999.1", {INT64_MAX, 1}}})
    EXPECT_EQ(versionNumbers(n.text), n.v) << n.text;

  EXPECT_LT(compareVersions({1, 0, 9}, {1, 0, 10}), 0);
  EXPECT_EQ(compareVersions({1, 2}, {1, 2, 0}), 0);
  EXPECT_GT(compareVersions({2}, {1, 99}), 0);
}

TEST(CleanupParsers, HomebrewDryRun) {
  const char* output =
      "Would remove: /home/linuxbrew/.linuxbrew/Cellar/jq/1.6 (18 files, 1.1MB)\n"
      "Would remove: /home/me/.cache/Homebrew/downloads/abc--jq-1.6.tar.gz (512KB)\n"
      "Warning: Skipping git: most recent version 2.44 not installed\n"
      "==> This operation would free approximately 1.6MB of disk space.\n";
  EXPECT_EQ(brewRemovedPaths(output),
            (std::vector<std::string>{"/home/linuxbrew/.linuxbrew/Cellar/jq/1.6",
                                      "/home/me/.cache/Homebrew/downloads/abc--jq-1.6.tar.gz"}));
  struct Size {
    const char* text;
    std::optional<int64_t> bytes;
  };
  for (const auto& s : {Size{output, 1'600'000}, Size{"approximately 12B", 12},
                        Size{"approximately 2.5GB of", 2'500'000'000},
                        Size{"approximately 1TB", 1'000'000'000'000}, Size{"nothing to do", {}}})
    EXPECT_EQ(brewFreedBytes(s.text), s.bytes) << s.text;
}

TEST(CleanupParsers, LogFiles) {
  struct Case {
    const char* relative;
    bool log;
  };
  for (const auto& c :
       {Case{"app/app.log", true}, Case{"app/app.log.1", true}, Case{"app/app.LOG.2.gz", true},
        Case{"x/logs/run.txt", true}, Case{"x/Crash Reports/a.dmp", true},
        Case{"app/catalog", false}, Case{"app/logbook.db", false}, Case{"logs", false},
        Case{"blog/post.html", false}})
    EXPECT_EQ(isLogFile(c.relative), c.log) << c.relative;
}

TEST(CleanupDigest, AnItemForAgents) {
  Item item;
  item.id = "old-logs";
  item.removal = Removal::delete_;
  for (int i = 0; i < 7; ++i) item.paths.push_back("/h/" + std::to_string(i));
  auto j = Compact::cleanupItem(item);
  EXPECT_EQ(j["paths"], 7);
  EXPECT_EQ(j["path_list"].size(), 6u);
  EXPECT_TRUE(j["size_gb"].is_null());
  EXPECT_FALSE(j.contains("skipped"));
  item.paths.resize(2);
  item.bytes = int64_t(3) << 30;
  item.skipped = "go is running";
  j = Compact::cleanupItem(item);
  EXPECT_EQ(j["size_gb"], 3.0);
  EXPECT_EQ(j["skipped"], "go is running");
}

}  // namespace
}  // namespace norvo::Cleanup::parsers
