#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "core/measure/process_sample.hpp"
#include "core/platform/linux/named_process_parsers.hpp"
#include "core/platform/named_process.hpp"
#include "core/platform/process_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

TEST(LinuxProcessSource, ReadsAFixtureTree) {
  auto root = test::fixture("linux/zombie_parents");
  auto source = makeProcessSource(Roots::under(root));
  auto pids = source->allPids();
  std::sort(pids.begin(), pids.end());
  EXPECT_EQ(pids, (std::vector<int32_t>{1, 300, 301, 302, 303, 400, 401, 402, 403, 404}));

  auto shell = source->basics(400);
  ASSERT_TRUE(shell.has_value());
  struct stat st {};
  ASSERT_EQ(::stat((root / "proc/400/stat").c_str(), &st), 0);
  EXPECT_EQ(std::tuple(shell->uid, shell->ppid, shell->command, shell->state, shell->startTime),
            std::tuple(st.st_uid, 1, "my (odd) shell", 'S', 1234u));
  uint64_t ticks = uint64_t(::sysconf(_SC_CLK_TCK));
  EXPECT_FALSE(source->basics(404).has_value());  // listed, but gone before its record was read

  auto line = source->commandLine(400);
  EXPECT_EQ(std::tuple(line.path, line.arguments, line.appEntry),
            std::tuple("/opt/fixture/bin/shell", "sh -c sleep 1",
                       (root / "home/.local/share/applications/fixture-app.desktop").string()));
  auto usage = source->usage(400, std::nullopt);
  EXPECT_EQ(usage.cpuNanos, 200u * (1'000'000'000 / ticks));
  EXPECT_EQ(shell->cpuNanos, usage.cpuNanos);
  EXPECT_EQ(usage.footprintBytes, 640u * 1024);

  auto gone = source->commandLine(404);
  EXPECT_EQ(gone.path + gone.arguments, "");
  test::TempDir empty;
  EXPECT_TRUE(makeProcessSource(Roots::under(empty.path()))->allPids().empty());
}

// A process's key must survive everything but the process itself: clock
// adjustments move /proc/stat's btime, and a key built on it lost every hung
// mark and every remembered agent when they did.
TEST(LinuxProcessSource, KeyStableAcrossClockShiftsAndDistinctAcrossBoots) {
  const std::string boot = "6f1c2a9e-0d2b-4c55-9d0e-1b2c3d4e5f60";
  const std::pair<const char*, std::string> machines[] = {
      {"1700000000", boot},
      {"1700000001", boot},                                    // NTP stepped the clock
      {"1700000000", "0a0b0c0d-1111-2222-3333-444455556666"},  // the next boot
      {"1700000000", ""},                                      // the kernel gives no boot id
  };
  std::vector<std::string> keys;
  for (const auto& [btime, bootId] : machines) {
    test::TempDir dir;
    dir.write("proc/stat", std::string("cpu 1 2 3 4\nbtime ") + btime + "\n");
    if (!bootId.empty()) dir.write("proc/sys/kernel/random/boot_id", bootId + "\n");
    dir.write("proc/77/stat", "77 (worker) S 1 1 1 0 -1 0 0 0 0 0 150 50 0 0 20 0 1 0 987654 1 5");
    auto basics = makeProcessSource(Roots::under(dir.path()))->basics(77);
    ASSERT_TRUE(basics.has_value()) << btime << " " << bootId;
    keys.push_back(processKey(basics->pid, basics->startTime, basics->bootId));
  }
  EXPECT_EQ(keys[0], keys[1]);
  EXPECT_NE(keys[0], keys[2]);
  EXPECT_NE(keys[0], keys[3]);
  EXPECT_NE(keys[2], keys[3]);
}

TEST(LinuxProcessSource, AppsByDesktopUnitOrByTheirEntrysProgram) {
  test::TempDir dir;
  auto entries = dir.path() / "home/.local/share/applications";
  for (auto [file, lines] :
       {std::pair{"dev.editor.Editor", "Name=Editor\nExec=/opt/editor/editor %F"},
        {"hidden", "Name=Hidden\nNoDisplay=true\nExec=/opt/hidden/hidden"},
        {"shell-tool", "Name=Tool\nExec=/bin/sh -c tool"}})
    dir.write("home/.local/share/applications/" + std::string(file) + ".desktop",
              "[Desktop Entry]\nType=Application\n" + std::string(lines) + "\n");
  const std::string session = "0::/user.slice/user-1000.slice/session-2.scope\n";
  // The process, its program and control group, and the entry it is the app of.
  const std::tuple<int32_t, std::string, std::string, std::optional<std::string>> cases[] = {
      // Started from a terminal: no unit of its own, but its program has an entry.
      {700, "/opt/editor/editor", session, "dev.editor.Editor.desktop"},
      // An app unit of the desktop names its entry, whatever the program.
      {701, "/opt/other/bin/x",
       "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-gnome-dev.editor.Editor-4242.scope\n",
       "dev.editor.Editor.desktop"},
      // Hidden entries and launchers claim nothing.
      {702, "/opt/hidden/hidden", session, std::nullopt},
      {703, "/bin/sh", session, std::nullopt},
  };
  for (const auto& [pid, exe, cgroup, entry] : cases) {
    auto folder = "proc/" + std::to_string(pid);
    dir.write(folder + "/stat",
              std::to_string(pid) + " (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 1234 1000 50");
    dir.write(folder + "/cgroup", cgroup);
    std::filesystem::create_symlink(exe, dir.path() / folder / "exe");
  }
  auto source = makeProcessSource(Roots::under(dir.path()));
  for (const auto& [pid, exe, cgroup, entry] : cases) {
    auto expected = entry ? std::optional((entries / *entry).string()) : std::nullopt;
    EXPECT_EQ(source->commandLine(pid).appEntry, expected) << pid;
  }
  // The name shown for an app: checked once, for an entry.
  EXPECT_EQ(source->appName((entries / "dev.editor.Editor.desktop").string()), "Editor");
}

TEST(LinuxProcessSource, MemoryFromStatmUnlessSwapIsInUse) {
  uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
  test::TempDir dir;
  dir.write("proc/500/stat",
            "500 (worker) S 1 1 1 0 -1 0 0 0 0 0 150 50 0 0 20 0 1 0 1234 1000 50");
  dir.write("proc/500/statm", "9000 700 200 10 0 800 0\n");
  dir.write("proc/500/status", "RssAnon:\t 2000 kB\nVmSwap:\t 3000 kB\n");
  // No swap in use: resident minus shared pages, from statm. Some swap in use,
  // or no way to tell: status, which counts swapped memory.
  for (auto [meminfo, bytes] : std::vector<std::pair<std::string, uint64_t>>{
           {"MemTotal: 8000 kB\nSwapTotal: 4096 kB\nSwapFree: 4096 kB\n", 500 * page},
           {"SwapTotal: 4096 kB\nSwapFree: 1024 kB\n", 5000u * 1024},
           {"", 5000u * 1024}}) {
    std::filesystem::remove(dir.path() / "proc/meminfo");
    if (!meminfo.empty()) dir.write("proc/meminfo", meminfo);
    auto source = makeProcessSource(Roots::under(dir.path()));
    ASSERT_TRUE(source->basics(500).has_value());
    EXPECT_EQ(source->usage(500, 1).footprintBytes, bytes) << meminfo;
  }
}

// The source keeps a process's files open between reads; once the process is
// gone, those files must not hand out its old values.
TEST(LinuxProcessSource, KeptFilesFollowTheirProcess) {
  auto source = makeProcessSource(Roots::system());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  auto alive = source->basics(child);
  auto again = source->basics(child);  // through the kept file this time
  bool measured = source->usage(child, std::nullopt).footprintBytes.has_value();
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_TRUE(alive.has_value() && again.has_value());
  EXPECT_EQ(alive->ppid, ::getpid());
  EXPECT_EQ(again->startTime, alive->startTime);
  EXPECT_TRUE(measured);
  EXPECT_FALSE(source->basics(child).has_value());
  EXPECT_FALSE(source->usage(child, std::nullopt).footprintBytes.has_value());
}

using namespace std::string_literals;

TEST(NamedProcessParse, RealUidNamesAndPidEntries) {
  for (const auto& [text, uid] : std::vector<std::pair<std::string, std::optional<uint32_t>>>{
           {"Name:\tbash\nUid:\t1000\t1000\t1000\t1000\nGid:\t100\t100\t100\t100\n", 1000},
           {"Uid:\t1004\t0\t0\t0", 1004},  // real, not effective; no final line feed
           {"NotUid:\t5\nUid:  7 7 7 7\n", 7},
           {"Name:\tx\nGid:\t5\t5\t5\t5\n", std::nullopt},
           {"Uid:\t\n", std::nullopt},
           {"Uid:\t4294967296\t0\t0\t0\n", std::nullopt}})
    EXPECT_EQ(parse::statusRealUid(text), uid) << text;

  EXPECT_EQ(parse::commName("trailing  \n"), "trailing  ");
  EXPECT_EQ(parse::cmdlineName("/usr/bin/\0"s), "bin");
  EXPECT_EQ(parse::cmdlineName(""), "");
  for (const char* name : {"1", "4194304"}) EXPECT_TRUE(parse::isPidEntry(name)) << name;
  for (const char* name : {"", "self", "12a", "-1", "thread-self"})
    EXPECT_FALSE(parse::isPidEntry(name)) << name;
}

TEST(NamedProcessExists, MatchesExactNameOfTheGivenOwner) {
  Roots roots = Roots::under(test::fixture("linux/app_process_listed"));
  for (const auto& [uid, found, why] : std::vector<std::tuple<uint32_t, bool, const char*>>{
           {1000, true, "plain match"},
           {1001, true, "empty kernel name, command name matches"},
           {1004, true, "owner is the real user id"},
           {1002, false, "matching name but its status vanished"},
           {1003, false, "only near names: longer, other case"},
           {0, false, "no process of this user has the name"}})
    EXPECT_EQ(named_process::exists(roots, "Zemra Norvo", uid), found) << why;
  EXPECT_FALSE(named_process::exists(Roots::under("/nonexistent"), "Zemra Norvo", 1000));
}

}  // namespace
}  // namespace norvo::platform
