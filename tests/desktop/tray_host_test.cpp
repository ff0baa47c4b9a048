// The tray icon in a real tray: waybar's tray module under a headless sway,
// photographed with grim. The icon's colour must show up in the bar once the
// companion runs, and not before, and follow the level. sway refuses to run as root, so under root
// sway and waybar run as nobody, with a runtime folder of their own; the bus
// stays the test's and admits them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <thread>

#include "cli/child_process.hpp"
#include "core/store/norvo_store.hpp"
#include "desktop/private_bus.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

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

// How many pixels of a binary PPM (grim -t ppm) are within 2 of `rgb` in
// each channel; -1 when it is not one.
int pixelsOf(const std::string& ppm, uint8_t r, uint8_t g, uint8_t b) {
  std::istringstream in(ppm);
  std::string magic;
  int width = 0, height = 0, max = 0;
  if (!(in >> magic >> width >> height >> max) || magic != "P6" || max != 255) return -1;
  in.get();
  auto start = static_cast<size_t>(in.tellg());
  if (ppm.size() < start + static_cast<size_t>(width) * height * 3) return -1;
  auto near = [](uint8_t a, uint8_t want) { return std::abs(int(a) - int(want)) <= 2; };
  int count = 0;
  for (size_t i = start; i + 2 < ppm.size(); i += 3)
    if (near(static_cast<uint8_t>(ppm[i]), r) && near(static_cast<uint8_t>(ppm[i + 1]), g) &&
        near(static_cast<uint8_t>(ppm[i + 2]), b))
      ++count;
  return count;
}

TEST(TrayHost, WaybarsTrayShowsTheIconInTheLevelsColour) {
  for (const char* program : {"/usr/bin/sway", "/usr/bin/waybar", "/usr/bin/grim",
                              "/usr/bin/setpriv", "/usr/bin/dbus-daemon", "/usr/bin/gdbus"})
    if (::access(program, X_OK) != 0)
      GTEST_SKIP() << program << " is missing (scripts/setup.sh installs sway, waybar, grim)";
  test::FreshHome home;
  test::TempDir dir;
  // The desktop user reaches the bus socket and the configuration through it.
  ::chmod(dir.path().c_str(), 0755);
  auto runtime = dir.path() / "run";
  fs::create_directory(runtime);
  ::chmod(runtime.c_str(), 0700);
  if (::geteuid() == 0 && ::chown(runtime.c_str(), kNobody, kNobody) != 0)
    GTEST_SKIP() << "cannot hand the runtime folder to nobody";

  test::PrivateBus bus(dir);
  if (!bus.up()) GTEST_SKIP() << bus.why();
  const auto& address = bus.address();

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
                               "DBUS_SESSION_BUS_ADDRESS=" + address};
  auto swayEnv = env;
  swayEnv.insert(swayEnv.end(), {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                                 "WLR_HEADLESS_OUTPUTS=1", "WLR_LIBINPUT_NO_DEVICES=1"});
  test::ChildProcess sway(asDesktopUser(swayEnv, {"/usr/bin/sway", "-c", swayConfig.string()}));
  std::string display;
  bool swayUp = test::waitFor(
      [&] {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(runtime, ec))
          if (auto name = e.path().filename().string();
              name.starts_with("wayland-") && !name.ends_with(".lock"))
            display = name;
        return !display.empty();
      },
      5s);
  if (!swayUp) GTEST_SKIP() << "sway did not start: " << sway.readErrors(1s);
  env.push_back("WAYLAND_DISPLAY=" + display);
  test::ChildProcess waybar(
      asDesktopUser(env, {"/usr/bin/waybar", "-c", barConfig.string(), "-s", barStyle.string()}));
  bool trayUp = test::waitFor(
      [] {
        return test::run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                          "--object-path", "/org/freedesktop/DBus", "--method",
                          "org.freedesktop.DBus.NameHasOwner", "org.kde.StatusNotifierWatcher"},
                         "", 5s)
                   .out.find("true") != std::string::npos;
      },
      5s);
  if (!trayUp) GTEST_SKIP() << "waybar's tray did not start: " << waybar.readErrors(1s);
  auto screenshot = [&] {
    auto shot = dir.path() / "run" / "shot.ppm";
    test::run(asDesktopUser(env, {"/usr/bin/grim", "-t", "ppm", shot.string()}), "", 5s);
    return test::readFile(shot);
  };
  // The level colours, drawn by nothing else in the bar.
  struct Colour {
    LoadLevel level;
    uint8_t r, g, b;
  };
  const Colour orange{LoadLevel::overloaded, 0xFF, 0x9F, 0x0A};
  const Colour red{LoadLevel::critical, 0xFF, 0x45, 0x3A};
  auto count = [&](const Colour& c) { return pixelsOf(screenshot(), c.r, c.g, c.b); };
  auto before = count(orange);
  ASSERT_GE(before, 0) << "grim took no picture";
  EXPECT_EQ(before, 0) << "the bar is orange before the icon came";

  NorvoSnapshot snapshot;
  snapshot.assessment.level = orange.level;
  ASSERT_TRUE(NorvoStore::saveStatus(snapshot, home.store()));
  test::ChildProcess companion({test::cliPath(), "desktop"});
  // The icon comes in the level's colour, and takes the next level's when the
  // loop publishes it: the host redraws only on the item's NewIcon.
  for (const auto& colour : {orange, red}) {
    SCOPED_TRACE(rawValue(colour.level));
    snapshot.assessment.level = colour.level;
    ASSERT_TRUE(NorvoStore::saveStatus(snapshot, home.store()));
    int shown = 0;
    // A disc of 24 pixels has well over 100 of its colour; a stray pixel does not count.
    EXPECT_TRUE(test::waitFor(
        [&] {
          shown = count(colour);
          return shown >= 100;
        },
        8s))
        << shown << " pixels; " << companion.readErrors(1s) << waybar.readErrors(1s);
  }
  companion.signal(SIGTERM);
  EXPECT_EQ(companion.wait(5s), 0);
  waybar.signal(SIGTERM);
  waybar.wait(2s);
  sway.signal(SIGTERM);
  sway.wait(2s);
}

}  // namespace
}  // namespace norvo
