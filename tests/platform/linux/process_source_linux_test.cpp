#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

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
  EXPECT_FALSE(source->basics(999).has_value());

  auto line = source->commandLine(400);
  EXPECT_EQ(line.path, "/opt/fixture/bin/shell");
  EXPECT_EQ(line.arguments, "sh -c sleep 1");
  EXPECT_EQ(line.appEntry, (root / "home/.local/share/applications/fixture-app.desktop").string());
  auto usage = source->usage(400, std::nullopt);
  EXPECT_EQ(usage.cpuNanos, 200u * (1'000'000'000 / ticks));
  EXPECT_EQ(shell->cpuNanos, usage.cpuNanos);
  EXPECT_EQ(usage.footprintBytes, 640u * 1024);
  EXPECT_EQ(source->usage(400, 7).cpuNanos, 7u);  // the cheap record's figure is used as is

  auto gone = source->commandLine(404);
  EXPECT_EQ(gone.path + gone.arguments, "");
  EXPECT_FALSE(source->usage(999, std::nullopt).cpuNanos.has_value());
  EXPECT_FALSE(source->responsiblePid(400).has_value());
  test::TempDir empty;
  EXPECT_TRUE(makeProcessSource(Roots::under(empty.path()))->allPids().empty());
}

TEST(LinuxProcessSource, AppsByDesktopUnitOrByTheirEntrysProgram) {
  test::TempDir dir;
  auto entries = dir.path() / "home/.local/share/applications";
  dir.write("home/.local/share/applications/dev.editor.Editor.desktop",
            "[Desktop Entry]\nType=Application\nName=Editor\nExec=/opt/editor/editor %F\n");
  dir.write("home/.local/share/applications/hidden.desktop",
            "[Desktop Entry]\nType=Application\nName=Hidden\nNoDisplay=true\n"
            "Exec=/opt/hidden/hidden\n");
  dir.write("home/.local/share/applications/shell-tool.desktop",
            "[Desktop Entry]\nType=Application\nName=Tool\nExec=/bin/sh -c tool\n");
  const std::string session = "0::/user.slice/user-1000.slice/session-2.scope\n";
  struct Case {
    int32_t pid;
    std::string exe, cgroup;
    std::optional<std::string> entry, name;
  };
  const Case cases[] = {
      // Started from a terminal: no unit of its own, but its program has an entry.
      {700, "/opt/editor/editor", session, "dev.editor.Editor.desktop", "Editor"},
      // An app unit of the desktop names its entry, whatever the program.
      {701, "/opt/other/bin/x",
       "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-gnome-dev.editor.Editor-4242.scope\n",
       "dev.editor.Editor.desktop", "Editor"},
      // Hidden entries and launchers claim nothing.
      {702, "/opt/hidden/hidden", session, std::nullopt, std::nullopt},
      {703, "/bin/sh", session, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto pid = std::to_string(c.pid);
    dir.write("proc/" + pid + "/stat",
              pid + " (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 1234 1000 50");
    dir.write("proc/" + pid + "/cgroup", c.cgroup);
    std::filesystem::create_symlink(c.exe, dir.path() / "proc" / pid / "exe");
  }
  auto source = makeProcessSource(Roots::under(dir.path()));
  for (const auto& c : cases) {
    auto line = source->commandLine(c.pid);
    auto expected = c.entry ? std::optional((entries / *c.entry).string()) : std::nullopt;
    EXPECT_EQ(line.appEntry, expected) << c.pid;
    if (line.appEntry) {
      EXPECT_EQ(source->appName(*line.appEntry), c.name) << c.pid;
    }
  }
  EXPECT_EQ(source->appName("/home/me/Android/Sdk/emulator"), "Android Emulator");
  EXPECT_FALSE(source->appName("/opt/editor"));
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

}  // namespace
}  // namespace norvo::platform
