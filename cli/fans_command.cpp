// `zemnorvo fans` lists the fans, `zemnorvo fans set FAN auto|boost|max|RPM`
// changes one through the fan helper and holds a manual setting for as long
// as it runs, and `zemnorvo fan-helper` is the helper itself, which root
// starts from its systemd unit.
#include <fmt/format.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/commands.hpp"
#include "cli/owner_guard.hpp"
#include "core/fans/fan_helper.hpp"
#include "core/fans/fan_helper_client.hpp"
#include "core/platform/child_process.hpp"
#include "core/platform/fan_transport.hpp"
#include "core/platform/stop_signal.hpp"
#include "core/platform/unix_socket.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::cli {

namespace {

namespace fs = std::filesystem;

struct FansOptions {
  std::string root;  // a folder holding sys/, instead of the machine's
  std::string socket{FanHelperIDs::socketPath};
  uint32_t helperOwner = 0;
  bool json = false;
  int64_t fan = 0;
  std::string mode;
};

platform::Roots rootsOf(const std::string& root) {
  return root.empty() ? platform::Roots::system() : platform::Roots::under(root);
}

FanHelperClient clientOf(const FansOptions& o) {
  FanHelperClient client;
  client.socket = o.socket;
  client.expectedOwner = o.helperOwner;
  return client;
}

// How to get the helper running, from wherever this zemnorvo was installed.
std::string installAdvice() {
  std::string enable = "sudo systemctl enable --now zemnorvo-fan-helper@$(id -un).service";
  std::string unit(FanHelperIDs::unitName);
  if (auto exe = platform::ownExecutable()) {
    auto installed = fs::path(*exe).parent_path().parent_path() / "lib/systemd/system" / unit;
    std::error_code ec;
    if (fs::exists(installed, ec)) {
      auto dir = installed.parent_path().string();
      // The folders systemd reads system units from without being told.
      if (dir == "/usr/lib/systemd/system" || dir == "/usr/local/lib/systemd/system" ||
          dir == "/lib/systemd/system")
        return "Start it once, for your user:\n  " + enable + "\n";
      return "Install its unit and start it once, for your user:\n  sudo cp '" +
             installed.string() + "' /etc/systemd/system/ && " + enable + "\n";
    }
  }
  return "Install zemnorvo (cmake --install) so that its unit " + unit +
         " lies in /usr/local/lib/systemd/system, then start it once, for your user:\n  " + enable +
         "\n";
}

[[noreturn]] void helperFailed(const FanHelperClient::Error& e) {
  std::fprintf(stderr, "zemnorvo: %s\n", e.message.c_str());
  if (e.failure == FanHelperClient::Failure::notRunning)
    std::fprintf(stderr,
                 "Setting fans needs the fan helper, which runs as root (reading them does "
                 "not). %s",
                 installAdvice().c_str());
  throw CLI::RuntimeError(1);
}

void showFans(const FansOptions& o) {
  SMC smc(platform::fan_transport::open(rootsOf(o.root)));
  auto fans = FanInfo::read(smc);
  if (o.json) {
    std::printf("%s\n", json_codec::encode(nlohmann::json(fans)).c_str());
    return;
  }
  if (fans.empty()) {
    std::printf(
        "No fans found: no applesmc fan and no hwmon chip reporting a fan speed on this "
        "machine, so there is nothing to show or set.\n");
    return;
  }
  std::printf("%-4s %9s %9s %9s %9s  %s\n", "FAN", "RPM", "MIN", "MAX", "TARGET", "MODE");
  auto rpm = [](double v) { return v > 0 ? fmt::format("{:.0f}", v) : std::string("-"); };
  for (const auto& f : fans)
    std::printf("%-4lld %9s %9s %9s %9s  %s\n", static_cast<long long>(f.id), rpm(f.rpm).c_str(),
                rpm(f.minRPM).c_str(), rpm(f.maxRPM).c_str(),
                f.targetRPM ? rpm(*f.targetRPM).c_str() : "-", f.manual ? "manual" : "auto");
  FanHelperClient::Error e;
  if (auto status = clientOf(o).status(e))
    std::printf("Fan helper: %s\n", status->c_str());
  else
    std::printf("Fan helper: %s; zemnorvo fans set needs it (its message says how to start it).\n",
                e.message.c_str());
}

void setFan(const FansOptions& o) {
  if (auto agent = callingAgent()) {
    std::fprintf(stderr,
                 "zemnorvo fans set changes the owner's fans and is refused under an AI agent "
                 "(pid %d); only the owner can set fans, and no agent tool does it.\n",
                 *agent);
    throw CLI::RuntimeError(1);
  }
  std::string mode = o.mode;
  double rpm = 0;
  if (!fanPreset(mode)) {
    unsigned n = 0;
    auto [end, err] = std::from_chars(mode.data(), mode.data() + mode.size(), n);
    if (err != std::errc() || end != mode.data() + mode.size() || n > 100000) {
      std::fprintf(stderr, "zemnorvo: %s is not auto, boost, max or a speed in rpm\n",
                   mode.c_str());
      throw CLI::RuntimeError(2);
    }
    rpm = static_cast<double>(n);
    mode = "manual";
  }
  auto client = clientOf(o);
  FanHelperClient::Error e;
  auto outcome = client.setFan(o.fan, mode, rpm, e);
  if (!outcome) helperFailed(e);
  std::fprintf(outcome->success ? stdout : stderr, "%s\n", outcome->message.c_str());
  if (!outcome->success) throw CLI::RuntimeError(1);
  if (mode == "auto") return;

  // The helper lets a setting lapse unless it is renewed, so a client that
  // dies never leaves a fan pinned; this one renews while it runs.
  std::printf("Held while this command runs; Ctrl-C gives fan %lld back to automatic.\n",
              static_cast<long long>(o.fan));
  std::fflush(stdout);
  platform::StopSignal stop;
  platform::StopSignal::SignalRoute route(stop);
  bool lost = false;
  while (!stop.waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(5))) {
    auto renewed = client.setFan(o.fan, mode, rpm, e);
    if (!renewed || !renewed->success) {
      std::fprintf(stderr, "zemnorvo: the fan setting could not be renewed: %s\n",
                   renewed ? renewed->message.c_str() : e.message.c_str());
      lost = true;
      break;
    }
  }
  auto back = client.setFan(o.fan, "auto", 0, e);
  if (back)
    std::printf("%s\n", back->message.c_str());
  else
    std::fprintf(stderr, "zemnorvo: %s (the helper gives the fan back when its lease lapses)\n",
                 e.message.c_str());
  if (lost || !back || !back->success) throw CLI::RuntimeError(1);
}

struct HelperArgs {
  std::string root;
  std::string socket{FanHelperIDs::socketPath};
  std::string user, group;
  double leaseSeconds = 15;
};

void runHelper(const HelperArgs& a) {
  FanHelperOptions options;
  options.roots = rootsOf(a.root);
  options.socket = a.socket;
  options.lease = std::chrono::milliseconds(std::llround(a.leaseSeconds * 1000));
  if (!a.user.empty()) {
    options.allowedUser = platform::unix_socket::userId(a.user);
    if (!options.allowedUser) throw CLI::ValidationError("--allow-user", "no user " + a.user);
  }
  if (!a.group.empty()) {
    options.allowedGroup = platform::unix_socket::groupId(a.group);
    if (!options.allowedGroup) throw CLI::ValidationError("--allow-group", "no group " + a.group);
  }
  int status = serveFanHelper(options, [](const std::string& line) {
    std::fprintf(stderr, "zemnorvo fan-helper: %s\n", line.c_str());
    std::fflush(stderr);
  });
  if (status != 0) throw CLI::RuntimeError(status);
}

}  // namespace

void addFansCommands(CLI::App& app) {
  static FansOptions options;
  auto* fans = app.add_subcommand("fans", "Show the fans; fans set changes one");
  fans->add_flag("--json", options.json, "Print the fans as JSON");
  fans->add_option("--root", options.root, "A folder holding sys/ to read instead")->group("");
  fans->add_option("--socket", options.socket, "The fan helper's socket")->capture_default_str();
  fans->add_option("--helper-owner", options.helperOwner, "The user the helper runs as")->group("");
  fans->callback([fans] {
    if (fans->get_subcommands().empty()) showFans(options);
  });
  auto* set = fans->add_subcommand(
      "set",
      "Set a fan to auto, boost (60 % of its range), max or a speed in rpm, through the fan "
      "helper; a manual setting is held while the command runs");
  set->fallthrough();
  set->add_option("fan", options.fan, "Fan number, as fans lists it")->required();
  set->add_option("mode", options.mode, "auto, boost, max or RPM")->required();
  set->callback([] { setFan(options); });

  static HelperArgs helper;
  auto* serve = app.add_subcommand(
      "fan-helper",
      "The fan helper, run by root from zemnorvo-fan-helper@USER.service: writes fan settings "
      "for root and the allowed user or group, and gives every fan back to automatic when it "
      "starts, stops, or a client stops renewing its setting");
  serve->add_option("--socket", helper.socket, "Where to listen")->capture_default_str();
  serve->add_option("--allow-user", helper.user, "A user (name or uid) besides root");
  serve->add_option("--allow-group", helper.group,
                    "A group (name or gid) whose members may connect");
  serve
      ->add_option("--lease", helper.leaseSeconds,
                   "Seconds a manual setting lasts unless its client renews it")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  serve->add_option("--root", helper.root, "A folder holding sys/ to drive instead")->group("");
  serve->callback([] { runHelper(helper); });
}

}  // namespace norvo::cli
