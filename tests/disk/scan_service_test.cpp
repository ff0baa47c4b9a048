#include "core/disk/scan_service.hpp"

#include <gtest/gtest.h>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo::DiskUsage {
namespace {

namespace fs = std::filesystem;

TEST(ScanService, AgentsGetLocksForFoldersOutsideTheirLeave) {
  test::TempDir home;
  fs::create_directories(home.path() / "Documents/secret");
  fs::create_directories(home.path() / "project");
  fs::create_directory_symlink("/etc", home.path() / "project/etc-link");
  Places p = Places::standard(home.path().string());
  std::string h = home.path().string();
  struct Case {
    std::string path;
    Access access;
    bool allowed;
  } cases[] = {
      {h + "/project", {}, true},
      {"/etc", {}, false},
      {h + "/project/etc-link", {}, false},
      {h + "/project/../../", {}, false},
      {"relative/path", {}, false},
      {h + "/Documents/secret", {}, false},
      {h + "/Documents/secret", {false, true, {}}, true},
      {h + "/Documents", {false, false, {h + "/Documents"}}, true},
  };
  // What an agent gets for a refused folder is checked through the agent
  // tool (disk_usage_tool_test).
  for (const auto& c : cases) EXPECT_EQ(agentMayScan(c.path, p, c.access), c.allowed) << c.path;
}

TEST(ScanService, PendingRequestsAreAnsweredAndBadOnesLeftAlone) {
  test::TempDir home, store;
  auto good = NorvoStore::ScanRequest::make(std::nullopt, home.path().string());
  NorvoStore::addScan(good, store.path());
  store.write("scans/pending/BROKEN.json", "{\"id\": 12");

  Progress progress;
  ScanSetup setup{Places::standard(home.path().string()), {}, std::nullopt};
  EXPECT_EQ(servePending(store.path(), setup, progress), 1);
  EXPECT_TRUE(NorvoStore::scanResult(good.id, store.path()).has_value());
  EXPECT_TRUE(fs::exists(store.path() / "scans/pending/BROKEN.json"));
  EXPECT_FALSE(fs::exists(store.path() / "scans/done/BROKEN.json"));
}

}  // namespace
}  // namespace norvo::DiskUsage
