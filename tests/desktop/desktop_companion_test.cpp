// `zemnorvo desktop` against a real notification server: dunst under Xvfb on
// a private bus, its menu script picking "Keep" when `dunstctl context` asks.
// A spoofed button from another bus client must change nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include "desktop/private_bus.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

TEST(DesktopCompanion, AButtonOfTheServerAnswersAndASpoofedOneDoesNot) {
  if (auto missing = test::missingProgram({"/usr/bin/Xvfb", "/usr/bin/dunst", "/usr/bin/dunstctl",
                                           "/usr/bin/gdbus", "/usr/bin/dbus-daemon"});
      !missing.empty())
    GTEST_SKIP() << missing << " is missing (scripts/setup.sh installs dunst, xvfb, dbus-bin)";
  test::FreshHome home;
  test::TempDir dir;
  test::PrivateBus bus(dir);
  if (!bus.up()) GTEST_SKIP() << bus.why();
  test::ChildProcess x(
      {"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
  auto display = x.readLine(10s);
  if (!display) GTEST_SKIP() << "Xvfb did not start: " << x.readErrors(1s);
  // dunst hands its menu script one line per action, "#Keep (SUMMARY) [ID,keep]",
  // and takes the line printed back unchanged as the choice.
  // The first choice is the click on the text (details), the second "Keep".
  auto picked = dir.path() / "picked";
  auto pick = dir.write("pick.sh", "#!/bin/sh\nif [ -e " + picked.string() +
                                       " ]; then exec grep -m1 ',keep]$'; fi\ntouch " +
                                       picked.string() + "\nexec grep -m1 ',default]$'\n");
  ::chmod(pick.c_str(), 0755);
  auto config = dir.write("dunstrc", "[global]\n    dmenu = " + pick.string() + "\n");
  test::ChildProcess dunst(
      {"/usr/bin/env", "DISPLAY=:" + *display, "/usr/bin/dunst", "-config", config.string()});
  ASSERT_TRUE(
      test::waitFor([] { return test::nameHasOwner("org.freedesktop.Notifications"); }, 10s))
      << dunst.readErrors(1s);

  auto id = test::fileQuitSuggestion(home.store()).id;
  test::ChildProcess companion({test::cliPath(), "desktop"});
  auto asked = companion.readLine(10s);
  ASSERT_TRUE(asked) << companion.readErrors(1s);
  auto at = asked->find("(notification ");
  ASSERT_NE(at, std::string::npos) << *asked;
  EXPECT_NE(asked->find(id), std::string::npos) << *asked;
  auto notification = asked->substr(at + 14, asked->size() - at - 15);

  // A second companion is refused as a second loop is (the watch test reads its words).
  EXPECT_EQ(test::zemnorvo({"desktop"}).status, 1);

  // Any client may emit the server's signal; only the server's own counts.
  // Had this one been taken, the suggestion would read "accepted".
  test::run({"/usr/bin/gdbus", "emit", "--session", "--object-path",
             "/org/freedesktop/Notifications", "--signal",
             "org.freedesktop.Notifications.ActionInvoked", "uint32 " + notification, "'quit'"},
            "", 5s);
  test::run({"/usr/bin/dunstctl", "context"}, "", 10s);
  auto details = home.store() / "details" / ("suggestion-" + id + ".txt");
  ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(details); }, 10s))
      << companion.readErrors(1s);
  EXPECT_NE(test::readFile(details).find("zemnorvo answer " + id + " keep"), std::string::npos);
  EXPECT_EQ(NorvoStore::suggestion(id, home.store())->status, "pending");
  test::run({"/usr/bin/dunstctl", "context"}, "", 10s);
  ASSERT_TRUE(test::keptBrowser(id, home.store(), 10s)) << companion.readErrors(1s);
  // dunst leaves a notification up after a choice; the companion withdraws it,
  // and the details written for it go with it.
  EXPECT_TRUE(test::waitFor(
      [&] {
        return !std::filesystem::exists(details) &&
               test::run({"/usr/bin/dunstctl", "count", "displayed"}, "", 5s).out == "0\n";
      },
      5s));
  companion.signal(SIGTERM);
  EXPECT_EQ(companion.wait(5s), 0);
}

}  // namespace
}  // namespace norvo
