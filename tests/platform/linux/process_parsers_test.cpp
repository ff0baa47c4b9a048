#include "core/platform/linux/process_parsers.hpp"

#include <gtest/gtest.h>

#include <map>

namespace norvo::platform::parse {
namespace {

using namespace std::string_literals;

TEST(PidStat, CommandNamesWithSpacesAndParentheses) {
  auto s = pidStat(
      "42 (my (odd) cmd) S 7 42 42 0 -1 4194560 100 0 0 0 250 75 0 0 20 0 1 0 "
      "123456 1000 50 18446744073709551615\n");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(std::tuple(s->pid, s->command, s->state, s->ppid, s->utimeTicks, s->stimeTicks,
                       s->startTicks),
            std::tuple(42, "my (odd) cmd", 'S', 7, 250u, 75u, 123456u));
  auto zombie = pidStat("9 () Z 1 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5 0 0");
  ASSERT_TRUE(zombie.has_value());
  EXPECT_EQ(std::pair(zombie->state, zombie->command), std::pair('Z', std::string()));
  for (const char* bad : {"", "42 cmd S 1", "42 (cmd) S 1 2 3",
                          "x (cmd) S 7 42 42 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 0",
                          "42 (cmd) S -3 42 42 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 0"})
    EXPECT_FALSE(pidStat(bad).has_value()) << bad;
}

TEST(ProcessFootprint, StatusCountsAnonymousPlusSwapStatmResidentMinusShared) {
  EXPECT_EQ(statusFootprint("Name:\tx\nVmRSS:\t 900 kB\nRssAnon:\t 100 kB\nRssFile:\t 800 kB\n"
                            "VmSwap:\t  20 kB\n"),
            120u * 1024);
  EXPECT_EQ(statusFootprint("RssAnon:\t 3 kB\n"), 3u * 1024);
  EXPECT_FALSE(statusFootprint("Name:\tkthreadd\nState:\tS (sleeping)\n").has_value());
  EXPECT_FALSE(statusFootprint("RssAnon:\t lots\n").has_value());

  // A good statm: the process source's choice between the two.
  for (const char* bad : {"0 0 0 0 0 0 0\n", "9000 100 200 10 0 800 0\n", "9000 700\n", ""})
    EXPECT_FALSE(statmFootprint(bad, 4096).has_value()) << bad;
}

TEST(CommandLineArguments, JoinsRepairsAndCutsAtFourHundredCharacters) {
  EXPECT_EQ(commandLineArguments("title set by the process"s), "title set by the process");
  EXPECT_EQ(commandLineArguments("a\0\0b\0"s), "a  b");  // joined; empty ones keep their place
  EXPECT_EQ(commandLineArguments("bad\xff\xc0\x80tail"s),
            "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDtail");
  std::string exactly(400, 'x');
  EXPECT_EQ(commandLineArguments(exactly + "\0"s), exactly);
  EXPECT_EQ(commandLineArguments(exactly + "y"), exactly + "…");
  std::string cyrillic;  // characters, not bytes: 401 letters are 802 bytes
  for (int i = 0; i < 401; ++i) cyrillic += "ж";
  EXPECT_EQ(commandLineArguments(cyrillic), cyrillic.substr(0, 800) + "…");
}

TEST(AppIdFromCgroup, DesktopAppUnits) {
  const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"app-gnome-firefox\\x2desr-4242.scope", "firefox-esr"},
      {"app-gnome-org.gnome.Nautilus@12345.service", "org.gnome.Nautilus"},
      {"app-org.gnome.Terminal.slice/vte-spawn-1f2e.scope", "org.gnome.Terminal"},
      {"pipewire.service", std::nullopt},
      {"app-a-b-c-1.scope", std::nullopt},  // undecidable: unescaped dashes
      {"app-1234.scope", std::nullopt},
  };
  for (const auto& [cgroup, id] : cases)
    EXPECT_EQ(appIdFromCgroup(user + cgroup + "\n"), id) << cgroup;
  // A hybrid hierarchy names the units in the systemd tree, unless a unified line exists.
  EXPECT_EQ(appIdFromCgroup("4:memory:/x\n1:name=systemd:/user.slice/app-code-1.scope\n"), "code");
  EXPECT_EQ(appIdFromCgroup("4:memory:/x\n1:name=systemd:/user.slice/app-code-1.scope\n0::/\n"),
            std::nullopt);
  EXPECT_EQ(appIdFromCgroup(""), std::nullopt);
}

TEST(ProcessSmallFiles, BootTime) {
  EXPECT_EQ(bootTime("cpu 1 2 3 4\nbtime 1700000000\nprocesses 5\n"), 1700000000u);
  EXPECT_FALSE(bootTime("cpu 1 2 3 4\n").has_value());
  EXPECT_FALSE(bootTime("btime soon\n").has_value());
}

// A process is the owner's program by the path it was started under, not by
// the file its links lead to.
// A small machine: each path that exists and the file it finally leads to.
const std::map<std::string, std::string> kFiles = {
    {"/home/u/proj/.venv/bin/python", "/usr/bin/python3.11"},
    {"/usr/bin/python3", "/usr/bin/python3.11"},
    {"/usr/bin/python3.11", "/usr/bin/python3.11"},
    {"/usr/bin/sh", "/usr/bin/dash"},
    {"/bin/sh", "/usr/bin/dash"},
    {"/usr/bin/bash", "/usr/bin/bash"},
    {"/home/u/proj/build/app", "/home/u/proj/build/app"},
    {"/opt/a-very-long-program-name", "/opt/a-very-long-program-name"},
};

std::optional<std::string> resolve(const std::string& path) {
  auto it = kFiles.find(path);
  if (it == kFiles.end()) return std::nullopt;
  return it->second;
}

TEST(StartedPath, ArgvZeroMadeAbsoluteAndCheckedAgainstTheKernel) {
  // What the row shows, the command line, the kernel's command name, working
  // folder, PATH and executable, and the path the process was started under.
  using S = std::string;
  using Case = std::tuple<const char*, S, S, S, S, S, std::optional<S>>;
  const std::string venvPath = "/home/u/proj/.venv/bin:/usr/bin:/bin";
  const Case cases[] = {
      {"virtualenv python on PATH", "python\0x.py\0"s, "python", "/home/u", venvPath,
       "/usr/bin/python3.11", "/home/u/proj/.venv/bin/python"},
      {"sh is not renamed dash", "/bin/sh\0-c\0true\0"s, "sh", "/", "", "/usr/bin/dash", "/bin/sh"},
      {"login shell", "-bash\0"s, "bash", "/home/u", "/usr/local/bin:/usr/bin", "/usr/bin/bash",
       "/usr/bin/bash"},
      {"dot segments", "./build/../build/app\0"s, "app", "/home/u/proj", "",
       "/home/u/proj/build/app", "/home/u/proj/build/app"},
      {"empty PATH entry is the working folder", "app\0"s, "app", "/home/u/proj/build", ":/usr/bin",
       "/home/u/proj/build/app", "/home/u/proj/build/app"},
      {"command name cut to 15 bytes", "/opt/a-very-long-program-name\0"s, "a-very-long-pro", "/",
       "", "/opt/a-very-long-program-name", "/opt/a-very-long-program-name"},
      {"unreadable executable: the first match on PATH", "python3\0"s, "python3", "/", "/usr/bin",
       "", "/usr/bin/python3"},
      // Not what the kernel ran (a script, a changed PATH, another file): the
      // executable stays the answer.
      {"shebang script", "/usr/bin/python3\0./tool.py\0"s, "tool.py", "/home/u", "/usr/bin",
       "/usr/bin/python3.11", std::nullopt},
      {"PATH changed since the start", "python\0"s, "python", "/", "/usr/bin:/bin",
       "/usr/bin/python3.11", std::nullopt},
      {"leads to another file", "sh\0"s, "sh", "/", "/usr/bin", "/usr/bin/bash", std::nullopt},
      {"relative without a working folder", "build/app\0"s, "app", "", "", "/home/u/proj/build/app",
       std::nullopt},
      {"empty command line (kernel thread)", ""s, "kworker/0:1", "/", "/usr/bin", "", std::nullopt},
      {"no command name", "python\0"s, "", "/", venvPath, "/usr/bin/python3.11", std::nullopt},
  };
  for (const auto& [name, cmdline, command, cwd, pathList, executable, expected] : cases) {
    EXPECT_EQ(startedPath({cmdline, command, cwd, pathList, executable}, resolve), expected)
        << name;
  }
}

TEST(StartedPath, EnvironValue) {
  const auto vars = "HOME=/home/u\0PATHX=/nope\0PATH=/a:/b\0EMPTY=\0"s;
  EXPECT_EQ(environValue(vars, "PATH"), "/a:/b");
  EXPECT_EQ(environValue(vars, "EMPTY"), "");
  EXPECT_FALSE(environValue(vars, "PAT").has_value());
  EXPECT_FALSE(environValue("PATH"s, "PATH").has_value());
  EXPECT_FALSE(environValue(""s, "PATH").has_value());
}

}  // namespace
}  // namespace norvo::platform::parse
