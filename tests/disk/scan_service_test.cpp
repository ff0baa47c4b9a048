#include "core/disk/scan_service.hpp"

#include <gtest/gtest.h>

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
  for (const auto& [path, access, allowed] : std::vector<std::tuple<std::string, Access, bool>>{
           {h + "/project", {}, true},
           {h + "/project/etc-link", {}, false},
           {h + "/project/../../", {}, false},
           {h + "/Documents/secret", {}, false},
           {h + "/Documents/secret", {false, true, {}}, true},
           {h + "/Documents", {false, false, {h + "/Documents"}}, true}})
    // Outside home and relative paths, and what an agent gets for a refused
    // folder, are checked through the agent tool (disk_usage_tool_test).
    EXPECT_EQ(agentMayScan(path, p, access), allowed) << path;
}

}  // namespace
}  // namespace norvo::DiskUsage
