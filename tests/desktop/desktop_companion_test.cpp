// `zemnorvo desktop` against a real notification server: dunst under Xvfb on
// a private bus, its menu script picking "Keep" when `dunstctl context` asks.
// An agent files the suggestion through `zemnorvo mcp` and reads the outcome
// back; a spoofed button from another bus client
// must change nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "core/platform/record_file.hpp"
#include "core/records/json_codec.hpp"
#include "core/store/norvo_store.hpp"
#include "desktop/private_bus.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

std::string gdbus(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/gdbus"};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::run(argv, "", 5s).out;
}

TEST(DesktopCompanion, AButtonOfTheServerAnswersAndASpoofedOneDoesNot) {
  for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/dunst", "/usr/bin/dunstctl",
                              "/usr/bin/gdbus", "/usr/bin/dbus-daemon"})
    if (::access(program, X_OK) != 0)
      GTEST_SKIP() << program << " is missing (scripts/setup.sh installs dunst, xvfb, dbus-bin)";
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
  ASSERT_TRUE(test::waitFor(
      [] {
        return gdbus({"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                      "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                      "org.freedesktop.Notifications"})
                   .find("true") != std::string::npos;
      },
      10s))
      << dunst.readErrors(1s);

  // The agent files the suggestion through its own server, about an app the
  // loop's status.json shows (a test machine runs no desktop apps).
  ASSERT_EQ(test::zemnorvo({"watch", "--once"}).status, 0);
  test::ChildProcess browser({"/bin/sleep", "300"});
  auto statusFile = home.store() / "status.json";
  auto status = json_codec::decode(test::readFile(statusFile));
  ASSERT_TRUE(status);
  (*status)["apps"].push_back(
      {{"name", "Browser"},
       {"bundlePath", "/usr/share/applications/org.example.Browser.desktop"},
       {"bundleID", "org.example.Browser"},
       {"mainPid", browser.pid()},
       {"processCount", 1},
       {"cpuPercent", 80},
       {"memoryBytes", 4000000000},
       {"category", "user_app"}});
  ASSERT_TRUE(record_file::writeAtomically(statusFile, status->dump()));
  test::AgentServer agent;
  auto filed = agent.tool("suggest_quit_apps", {{"reason", "builds are slow"},
                                                {"apps", {"Browser"}}})["structuredContent"];
  ASSERT_TRUE(filed.contains("id")) << filed;
  std::string id = filed["id"];
  test::ChildProcess companion({test::cliPath(), "desktop"});
  auto asked = companion.readLine(10s);
  ASSERT_TRUE(asked) << companion.readErrors(1s);
  auto at = asked->find("(notification ");
  ASSERT_NE(at, std::string::npos) << *asked;
  EXPECT_NE(asked->find(id), std::string::npos) << *asked;
  auto notification = asked->substr(at + 14, asked->size() - at - 15);

  auto second = test::zemnorvo({"desktop"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.errors.find("zemnorvo desktop is already running for this user"),
            std::string::npos)
      << second.errors;

  // Any client may emit the server's signal; only the server's own counts.
  // Had this one been taken, the suggestion would read "accepted".
  gdbus({"emit", "--session", "--object-path", "/org/freedesktop/Notifications", "--signal",
         "org.freedesktop.Notifications.ActionInvoked", "uint32 " + notification, "'quit'"});
  test::run({"/usr/bin/dunstctl", "context"}, "", 10s);
  auto details = home.store() / "details" / ("suggestion-" + id + ".txt");
  ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(details); }, 10s))
      << companion.readErrors(1s);
  EXPECT_NE(test::readFile(details).find("zemnorvo answer " + id + " keep"), std::string::npos);
  EXPECT_EQ(NorvoStore::suggestion(id, home.store())->status, "pending");
  test::run({"/usr/bin/dunstctl", "context"}, "", 10s);
  ASSERT_TRUE(test::waitFor(
      [&] {
        auto s = NorvoStore::suggestion(id, home.store());
        return s && s->status != "pending";
      },
      10s))
      << companion.readErrors(1s);
  auto answer = agent.tool("suggestion_status", {{"id", id}})["structuredContent"];
  EXPECT_EQ(answer["status"], "declined") << answer;
  EXPECT_EQ(answer["kept"], nlohmann::json({"Browser"})) << answer;
  EXPECT_EQ(::kill(browser.pid(), 0), 0) << "keeping the app must not stop it";
  // dunst leaves a notification up after a choice; the companion withdraws it.
  EXPECT_TRUE(test::waitFor(
      [] {
        return test::run({"/usr/bin/dunstctl", "count", "displayed"}, "", 5s).out == "0\n";
      },
      5s));
  companion.signal(SIGTERM);
  EXPECT_EQ(companion.wait(5s), 0);
}

}  // namespace
}  // namespace norvo
