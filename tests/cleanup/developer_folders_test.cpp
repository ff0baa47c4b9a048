// The developer folders measured for agents, and the simulator operations on
// a machine without Xcode, where they must say so rather than pretend.
#include "core/cleanup/developer_folders.hpp"

#include <gtest/gtest.h>

#include "core/cleanup/simulators.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;

TEST(DiskReport, MeasuresTheFoldersThatExistLargestFirst) {
  test::TempDir dir;
  auto home = dir.path().string();
  auto places = DiskUsage::Places::standard(home);
  dir.write(".npm/_cacache/index", std::string(50000, 'n'));
  dir.write(".cache/pip/wheel", std::string(9000, 'p'));
  dir.write(".local/share/Trash/files/old", "t");
  auto entries = DiskReport::measure(30, places);
  std::vector<std::string> paths;
  for (const auto& e : entries) paths.push_back(e.path);
  // ~/.cache holds pip, so it is at least as large and comes first of the two;
  // DerivedData and the other missing folders are not listed at all.
  EXPECT_EQ(paths, (std::vector<std::string>{home + "/.npm/_cacache", home + "/.cache",
                                             home + "/.cache/pip", home + "/.local/share/Trash"}));
  ASSERT_TRUE(entries[0].bytes);
  EXPECT_GE(*entries[0].bytes, 50000);
  EXPECT_EQ(entries[0].note, "npm cache; `npm cache clean --force`");
  EXPECT_EQ(entries[3].note, "Trash; emptying it is the owner's decision");

  for (const auto& e : DiskReport::measure(0, places)) {
    EXPECT_FALSE(e.bytes) << e.path;
    EXPECT_TRUE(e.note.ends_with(" (size not measured in time)")) << e.note;
  }
}

TEST(Simulators, ReportHonestlyWithoutXcodeAndStopStrayDevices) {
  test::TempDir dir;
  auto [ok, message] = Simulators::shutDownAll(5, dir.path() / "xcrun");
  EXPECT_FALSE(ok);
  EXPECT_EQ(message, "xcrun not available: No such file or directory");

  auto xcrun = dir.write("bin/xcrun", "#!/bin/sh\n[ \"$1\" = simctl ] && sleep 30\n");
  fs::permissions(xcrun, fs::perms::owner_all);
  std::tie(ok, message) = Simulators::shutDownAll(1, xcrun);
  EXPECT_EQ(message, "simctl shutdown all did not finish in 1 s; a restart frees a hung simulator");
  auto failing = dir.write("bin/failing", "#!/bin/sh\necho \"unable to find $2\"\nexit 3\n");
  fs::permissions(failing, fs::perms::owner_all);
  std::tie(ok, message) = Simulators::shutDownAll(5, failing);
  EXPECT_FALSE(ok);
  EXPECT_EQ(message, "simctl shutdown all failed: unable to find shutdown\n");

  // A device process is recognised by where its program lies, and stopped.
  auto before = Simulators::forceStopDevices(0);
  EXPECT_EQ(before, (std::pair<int, int>{0, 0}));
  test::Processes processes;
  auto device = test::copyProgram("/bin/sleep", dir.path() / "CoreSimulator/bin/launchd_sim");
  auto pid = processes.start({device.string(), "30"}, device);
  auto& table = ProcessTable::shared();
  auto readings = test::readUntil(table, [&](const ProcessReadings& r) { return r.count(pid); });
  EXPECT_EQ(Simulators::devicePids(readings, ::getuid()), std::vector<int32_t>{pid});
  EXPECT_TRUE(Simulators::devicePids(readings, ::getuid() + 1).empty());
  EXPECT_EQ(Simulators::forceStopDevices(5), (std::pair<int, int>{1, 0}));
}

}  // namespace
}  // namespace norvo
