// `zemnorvo service` against a stand-in systemctl that logs its arguments,
// and one that fails as systemctl does without a user manager;
// the units land in a temporary XDG_CONFIG_HOME, never the developer's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cli/child_process.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;

TEST(ServiceCommand, WritesEnablesAndRemovesTheUnitsOrSaysWhyNot) {
  struct Case {
    std::string name;
    std::string systemctl;  // the stand-in's script
    int installStatus;
    std::string installSays;
  };
  const Case cases[] = {
      {"a user manager", "#!/bin/sh\necho \"$@\" >> \"$SYSTEMCTL_LOG\"\n", 0, "is enabled"},
      {"no user manager",
       "#!/bin/sh\necho 'Failed to connect to bus: No medium found' >&2\nexit 1\n", 1,
       "Failed to connect to bus"},
      // No systemctl at all takes the same way out, only said differently.
  };
  auto self = fs::canonical(test::cliPath()).string();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    ::chmod(dir.write("bin/systemctl", c.systemctl).c_str(), 0755);
    auto log = dir.path() / "systemctl.log";
    auto service = [&](const std::string& action) {
      return test::run({"/usr/bin/env", "PATH=" + (dir.path() / "bin").string(),
                        "XDG_CONFIG_HOME=" + (dir.path() / "config").string(),
                        "SYSTEMCTL_LOG=" + log.string(), test::cliPath(), "service", action});
    };
    auto installed = service("install");
    EXPECT_EQ(installed.status, c.installStatus) << installed.errors;
    EXPECT_THAT(installed.out + installed.errors, testing::HasSubstr(c.installSays));
    // The units are written either way, so a user manager started later finds them.
    auto unit = test::readFile(dir.path() / "config/systemd/user/zemnorvo-watch.service");
    EXPECT_NE(unit.find("\nExecStart=" + self + " watch\n"), std::string::npos) << unit;

    auto uninstalled = service("uninstall");
    EXPECT_EQ(uninstalled.status, c.installStatus) << uninstalled.errors;
    EXPECT_FALSE(fs::exists(dir.path() / "config/systemd/user/zemnorvo-watch.service"));
    if (c.installStatus == 0) {
      EXPECT_EQ(test::readFile(log),
                "--user daemon-reload\n--user enable --now zemnorvo-watch.service "
                "zemnorvo-desktop.service\n--user disable --now zemnorvo-watch.service "
                "zemnorvo-desktop.service\n--user daemon-reload\n");
    }
  }
}

}  // namespace
}  // namespace norvo
