// The tray item in a real tray: waybar's tray module under a headless sway,
// photographed with grim, the item and its menu read and clicked with the
// real `gdbus call` as a host does. The item must come to a tray that starts
// after the companion and again to one that restarts, show the level's
// colour and follow it, and its menu must settle a suggestion as a
// notification button does. sway refuses to run as root, so under root
// sway and waybar run as nobody, with a runtime folder of their own; the
// bus stays the test's and admits them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <memory>
#include <regex>

#include "desktop/private_bus.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A program started as the unprivileged user when this test runs as root,
// with nothing of this process's environment but `env`.
std::vector<std::string> asDesktopUser(const std::vector<std::string>& env,
                                       const std::vector<std::string>& argv) {
  std::vector<std::string> out;
  if (::geteuid() == 0)
    out = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  out.insert(out.end(), {"/usr/bin/env", "-i"});
  out.insert(out.end(), env.begin(), env.end());
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

using Colour = std::array<uint8_t, 3>;
// The level colours, drawn by nothing else in the bar.
constexpr Colour kOrange{0xFF, 0x9F, 0x0A}, kRed{0xFF, 0x45, 0x3A};

// How many pixels of a binary PPM (grim -t ppm) are within 2 of `c` in
// each channel; -1 when it is not one.
int pixelsOf(const std::string& ppm, Colour c) {
  int width = 0, height = 0, header = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d 255%n", &width, &height, &header) != 2 || header == 0 ||
      ppm.size() < header + 1 + static_cast<size_t>(width) * height * 3)
    return -1;
  auto near = [](char a, uint8_t want) { return std::abs(uint8_t(a) - int(want)) <= 2; };
  int count = 0;
  for (size_t i = header + 1; i + 2 < ppm.size(); i += 3)
    if (near(ppm[i], c[0]) && near(ppm[i + 1], c[1]) && near(ppm[i + 2], c[2])) ++count;
  return count;
}

// What `gdbus call` printed: the reply in GVariant's text form, in which a
// host's checks read as substrings. "--" keeps a -1 an argument.
std::string gdbusCall(const std::string& dest, const std::string& path, const std::string& method,
                      const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/gdbus", "call", "--session", "--dest", dest,
                                "--object-path",  path,   "--method",  method,   "--"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto ran = test::run(argv, "", 5s);
  EXPECT_EQ(ran.status, 0) << ran.errors;
  return ran.out;
}

// The whole menu, as a host reads it on opening: "(uint32 REVISION, (0, …))".
std::string layoutOf(const std::string& item) {
  return gdbusCall(item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", {"0", "-1", "@as []"});
}

// Clicks the entry labelled `label` (no regex characters) in `layout`;
// false when there is none.
bool click(const std::string& item, const std::string& layout, const std::string& label) {
  std::smatch id;
  if (!std::regex_search(layout, id, std::regex("\\((\\d+), \\{[^{}]*'label': <'" + label + "'>")))
    return false;
  gdbusCall(item, "/MenuBar", "com.canonical.dbusmenu.Event",
            {id[1].str(), "'clicked'", "<''>", "0"});
  return true;
}

TEST(TrayHost, WaybarsTrayShowsTheItemInTheLevelsColourAndItsMenuAnswers) {
  if (auto missing =
          test::missingProgram({"/usr/bin/sway", "/usr/bin/waybar", "/usr/bin/grim",
                                "/usr/bin/setpriv", "/usr/bin/dbus-daemon", "/usr/bin/gdbus"});
      !missing.empty())
    GTEST_SKIP() << missing << " is missing (scripts/setup.sh installs sway, waybar, grim)";
  test::FreshHome home;
  test::TempDir dir;
  // The desktop user reaches the bus socket and the configuration through it.
  ::chmod(dir.path().c_str(), 0755);
  auto runtime = dir.path() / "run";
  fs::create_directory(runtime);
  ::chmod(runtime.c_str(), 0700);
  if (::geteuid() == 0 && ::chown(runtime.c_str(), 65534, 65534) != 0)
    GTEST_SKIP() << "cannot hand the runtime folder to nobody";

  test::PrivateBus bus(dir);
  if (!bus.up()) GTEST_SKIP() << bus.why();

  auto swayConfig = dir.write("sway.conf", "output HEADLESS-1 resolution 400x120\n");
  auto barConfig = dir.write("waybar.json",
                             R"({"position": "top", "height": 40, "modules-right": ["tray"],
                                 "tray": {"icon-size": 24}})");
  // The stock style highlights an item that needs attention, which would
  // lighten the very pixels looked for; the bar's own look is not under test.
  auto barStyle = dir.write("waybar.css",
                            "window#waybar, #tray, #tray > * { background: #000000; "
                            "-gtk-icon-effect: none; }\n");
  std::vector<std::string> env{"HOME=" + runtime.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
                               "DBUS_SESSION_BUS_ADDRESS=" + bus.address()};
  auto swayEnv = env;
  swayEnv.insert(swayEnv.end(), {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                                 "WLR_HEADLESS_OUTPUTS=1", "WLR_LIBINPUT_NO_DEVICES=1"});
  test::ChildProcess sway(asDesktopUser(swayEnv, {"/usr/bin/sway", "-c", swayConfig.string()}));
  // In a runtime folder of its own the first display is free.
  if (!test::waitFor([&] { return fs::exists(runtime / "wayland-1"); }, 5s))
    GTEST_SKIP() << "sway did not start: " << sway.readErrors(1s);
  env.push_back("WAYLAND_DISPLAY=wayland-1");
  auto screenshot = [&] {
    auto shot = dir.path() / "run" / "shot.ppm";
    test::run(asDesktopUser(env, {"/usr/bin/grim", "-t", "ppm", shot.string()}), "", 5s);
    return test::readFile(shot);
  };

  NorvoSnapshot snapshot;
  snapshot.assessment.level = LoadLevel::overloaded;
  snapshot.assessment.recommendedParallelJobs = 3;
  snapshot.metrics.timestamp =
      std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  ASSERT_TRUE(NorvoStore::saveStatus(snapshot, home.store()));
  auto filed = test::fileQuitSuggestion(home.store());
  test::ChildProcess companion({"/usr/bin/env", "LC_ALL=en_US.UTF-8", test::cliPath(), "desktop"});
  const std::string noWatcher = "no StatusNotifierWatcher";
  std::string errors;
  ASSERT_TRUE(test::waitFor(
      [&] {
        errors += companion.readErrors(50ms);
        return errors.find(noWatcher) != std::string::npos;
      },
      5s))
      << errors;

  // A tray that starts later shows the icon in the level's colour, and so
  // does one that restarts.
  std::unique_ptr<test::ChildProcess> waybar;
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start);
    waybar = nullptr;
    int shown = -1;
    ASSERT_TRUE(test::waitFor([&] { return (shown = pixelsOf(screenshot(), kOrange)) == 0; }, 5s))
        << shown << " orange pixels (-1: no picture) with no bar";
    waybar = std::make_unique<test::ChildProcess>(
        asDesktopUser(env, {"/usr/bin/waybar", "-c", barConfig.string(), "-s", barStyle.string()}));
    if (!test::waitFor([] { return test::nameHasOwner("org.kde.StatusNotifierWatcher"); }, 5s))
      GTEST_SKIP() << "waybar's tray did not start: " << waybar->readErrors(1s);
    // A disc of 24 pixels has well over 100 of its colour; a stray pixel does not count.
    EXPECT_TRUE(test::waitFor([&] { return (shown = pixelsOf(screenshot(), kOrange)) >= 100; }, 8s))
        << shown << " pixels; " << companion.readErrors(1s) << waybar->readErrors(1s);
  }
  auto registered = gdbusCall("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                              "org.freedesktop.DBus.Properties.Get",
                              {"org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"});
  auto from = registered.find("['"), to = registered.find('/', from);
  ASSERT_NE(to, std::string::npos) << registered;
  auto item = registered.substr(from + 2, to - from - 2);

  auto all = gdbusCall(item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.GetAll",
                       {"org.kde.StatusNotifierItem"});
  // What a host decides the item's look and its menu by.
  for (const char* property :
       {"'Status': <'NeedsAttention'>", "'Menu': <objectpath '/MenuBar'>", "'ItemIsMenu': <true>"})
    EXPECT_NE(all.find(property), std::string::npos) << property << " in " << all;

  const std::string question = "claude pid 42 asks you to quit 1 app(s)";
  auto menu = layoutOf(item);
  ASSERT_TRUE(menu.starts_with("(uint32 ")) << menu;
  EXPECT_NE(menu.find("'Recommended parallel jobs: 3'>, 'enabled': <false>"), std::string::npos)
      << menu;
  EXPECT_NE(menu.find(question), std::string::npos) << menu;
  ASSERT_TRUE(click(item, menu, "Keep")) << menu;
  ASSERT_TRUE(test::keptBrowser(filed.id, home.store(), 5s)) << companion.readErrors(1s);

  // The answered question leaves the menu, under a new revision.
  std::string after;
  EXPECT_TRUE(test::waitFor(
      [&] {
        after = layoutOf(item);
        return after.find(question) == std::string::npos;
      },
      5s));
  EXPECT_GT(std::stoul(after.substr(8)), std::stoul(menu.substr(8))) << menu << after;
  // No loop has drawn the widget in this home: "Show widget" says so.
  EXPECT_TRUE(click(item, after, "Show widget")) << after;

  // The icon takes the next level's colour when the loop publishes it: the
  // host redraws only on the item's NewIcon. No orange is left: it was the icon's.
  snapshot.assessment.level = LoadLevel::critical;
  ASSERT_TRUE(NorvoStore::saveStatus(snapshot, home.store()));
  int red = 0, orange = 0;
  EXPECT_TRUE(test::waitFor(
      [&] {
        auto shot = screenshot();
        red = pixelsOf(shot, kRed);
        orange = pixelsOf(shot, kOrange);
        return red >= 100 && orange == 0;
      },
      8s))
      << red << " red and " << orange << " orange pixels";
  companion.signal(SIGTERM);
  EXPECT_EQ(companion.wait(5s), 0);
  errors += companion.readErrors(1s);
  EXPECT_NE(errors.find("no widget image yet"), std::string::npos) << errors;
}

}  // namespace
}  // namespace norvo
