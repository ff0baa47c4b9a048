#include "core/platform/linux/process_parsers.hpp"

#include <gtest/gtest.h>

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

  EXPECT_EQ(statmFootprint("9000 700 200 10 0 800 0\n", 4096), 500u * 4096);
  for (const char* bad : {"0 0 0 0 0 0 0\n", "9000 100 200 10 0 800 0\n", "9000 700\n", ""})
    EXPECT_FALSE(statmFootprint(bad, 4096).has_value()) << bad;
}

TEST(CommandLineArguments, JoinsRepairsAndCutsAtFourHundredCharacters) {
  EXPECT_EQ(commandLineArguments("node\0/usr/bin/gemini\0--yolo\0"s),
            "node /usr/bin/gemini --yolo");
  EXPECT_EQ(commandLineArguments("title set by the process"s), "title set by the process");
  EXPECT_EQ(commandLineArguments("a\0\0b\0"s), "a  b");  // empty arguments keep their place
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
      {"app-org.kde.konsole-1234.scope", "org.kde.konsole"},
      {"app-flatpak-org.mozilla.firefox-99.scope", "org.mozilla.firefox"},
      {"app-gnome-org.gnome.Nautilus@12345.service", "org.gnome.Nautilus"},
      {"app-org.gnome.Terminal.slice/vte-spawn-1f2e.scope", "org.gnome.Terminal"},
      {"app-dbus\\x2d:1.2\\x2dorg.gnome.X.slice", "dbus-:1.2-org.gnome.X"},
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

}  // namespace
}  // namespace norvo::platform::parse
