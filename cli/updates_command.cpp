// `zemnorvo updates` tells which installed apps have a newer version (and
// whether the product itself has one); `zemnorvo self-update` checks the
// maker's feed, stages the new release and swaps the installed tree for it
// once the owner agrees. Under an AI agent the swap is refused.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "cli/commands.hpp"
#include "cli/owner_guard.hpp"
#include "core/assess/text_format.hpp"
#include "core/platform/child_process.hpp"
#include "core/platform/detached_process.hpp"
#include "core/platform/roots.hpp"
#include "core/store/norvo_store.hpp"
#include "core/uninstall/uninstall.hpp"
#include "core/updates/app_updates.hpp"

namespace norvo::cli {

namespace {

using text_format::printable;

// The product has no build number apart from its version, so an empty build
// leaves the decision to the version.
constexpr const char* kOwnBuild = "";

std::string ownPath(const std::filesystem::path& home) {
  auto exe = platform::ownExecutable();
  if (!exe) return "zemnorvo";
  if (auto tree = SelfUpdate::installedTree(*exe, home)) return tree->string();
  return *exe;
}

void printUpdates(bool json) {
  auto context = Uninstall::Context::forUser();
  auto installed = Uninstall::installed(context);
  std::vector<Uninstall::App> apps;
  std::map<std::string, std::vector<std::string>> entries;
  for (auto& i : installed) {
    entries[i.app.path] = i.desktopEntries;
    apps.push_back(i.app);
  }
  bool tty = ::isatty(STDERR_FILENO);
  AppUpdates::CheckOptions options;
  options.own = AppUpdates::Own{NORVO_VERSION, kOwnBuild, ownPath(context.places.home)};
  options.os = platform::systemVersion(platform::Roots::system());
  options.self = SelfUpdate::Settings::forUser();
  options.fetch = AppUpdates::live(options.self.http);
  options.wait = [](std::chrono::seconds s) { std::this_thread::sleep_for(s); };
  options.inspect = [&](const Uninstall::App& app) {
    return platform::readUpdateSource(app.path, entries[app.path]);
  };
  // On a terminal the line is rewritten in place; elsewhere one line each.
  const char* start = tty ? "\r\033[K" : "";
  const char* ending = tty ? "" : "\n";
  options.progress = [=](int64_t done, int64_t total) {
    std::fprintf(stderr, "%schecking for updates: %lld of %lld apps%s", start,
                 static_cast<long long>(done), static_cast<long long>(total), ending);
  };
  std::fprintf(stderr, "checking for updates…%s", ending);
  auto report = AppUpdates::check(apps, options);
  if (tty) std::fputs("\r\033[K", stderr);

  if (json) {
    std::printf("%s\n", json_codec::encodeRecord(report).c_str());
    return;
  }
  if (report.updates.empty()) {
    std::printf("No updates found.\n");
  } else {
    std::printf("%-28s %-14s %-14s %-9s %s\n", "NAME", "INSTALLED", "AVAILABLE", "SOURCE", "LINK");
    for (const auto& u : report.updates)
      std::printf("%-28s %-14s %-14s %-9s %s\n", printable(u.name).c_str(),
                  printable(u.installed).c_str(), printable(u.available).c_str(),
                  std::string(AppUpdates::rawValue(u.source)).c_str(),
                  printable(u.link.value_or("-")).c_str());
  }
  std::printf("%lld app(s) checked, %lld without an update source\n",
              static_cast<long long>(report.checked), static_cast<long long>(report.notChecked));
  auto list = [](const char* title, const std::vector<std::string>& names) {
    if (names.empty()) return;
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : ", ") + printable(n);
    std::printf("%s: %s\n", title, joined.c_str());
  };
  list("Check failed", report.failed);
  list("Newer version needs a newer kernel", report.tooNew);
}

bool ownerAgrees(const std::string& question) {
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

void selfUpdate(bool checkOnly) {
  auto settings = SelfUpdate::Settings::forUser();
  std::optional<SelfUpdate::Release> release;
  try {
    release =
        SelfUpdate::check(NORVO_VERSION, kOwnBuild, AppUpdates::live(settings.http), settings);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo: the update check failed: %s\n", printable(e.what()).c_str());
    throw CLI::RuntimeError(1);
  }
  if (!release) {
    std::printf("Zemra Norvo %s is the latest version.\n", NORVO_VERSION);
    return;
  }
  std::printf("Zemra Norvo %s is available (installed: %s).\n", printable(release->version).c_str(),
              NORVO_VERSION);
  if (checkOnly) return;

  auto home = platform::Roots::system().home;
  auto exe = platform::ownExecutable();
  auto tree = exe ? SelfUpdate::installedTree(*exe, home) : std::nullopt;
  if (!tree) {
    std::fprintf(stderr,
                 "zemnorvo: %s was not unpacked from a release tarball into your home folder; "
                 "update it the way it was installed.\n",
                 printable(exe.value_or("this zemnorvo")).c_str());
    throw CLI::RuntimeError(1);
  }
  std::filesystem::path staged;
  try {
    staged = SelfUpdate::prepare(
        *release,
        [](SelfUpdate::Step step) {
          std::fprintf(stderr, "%s\n", std::string(SelfUpdate::rawValue(step)).c_str());
        },
        settings);
  } catch (const SelfUpdate::Failure& e) {
    std::fprintf(stderr, "zemnorvo: %s\n", printable(e.message()).c_str());
    throw CLI::RuntimeError(1);
  }
  if (auto agent = callingAgent()) {
    std::fprintf(stderr,
                 "zemnorvo self-update replaces the installed program and is refused under an AI "
                 "agent (pid %d); the new version stays staged in %s for the owner.\n",
                 *agent, staged.c_str());
    throw CLI::RuntimeError(1);
  }
  if (!ownerAgrees("Replace " + printable(tree->string()) + " with Zemra Norvo " +
                   printable(release->version) + " now?")) {
    std::printf("Nothing replaced; the new version stays staged in %s.\n", staged.c_str());
    return;
  }
  auto relaunch = platform::userServiceActive(std::string(SelfUpdate::serviceUnit))
                      ? SelfUpdate::Relaunch::service
                      : SelfUpdate::Relaunch::binary;
  try {
    SelfUpdate::swap(*tree, staged, static_cast<int32_t>(::getpid()), relaunch, settings);
  } catch (const SelfUpdate::Failure& e) {
    std::fprintf(stderr, "zemnorvo: %s\n", printable(e.message()).c_str());
    throw CLI::RuntimeError(1);
  }
  NorvoStore::Action action;
  action.date = std::chrono::system_clock::now();
  action.actor = "owner";
  action.kind = "self-update";
  action.pid = static_cast<int32_t>(::getpid());
  action.name = std::string(AppUpdates::productName);
  action.detail =
      std::string(NORVO_VERSION) + " replaced by " + release->version + " in " + tree->string();
  NorvoStore::log(action);
  std::printf("Zemra Norvo %s replaces %s as soon as this command has ended; %s.\n",
              printable(release->version).c_str(), printable(tree->string()).c_str(),
              relaunch == SelfUpdate::Relaunch::service ? "the measuring loop's service restarts"
                                                        : "the measuring loop starts again");
}

}  // namespace

void addUpdatesCommands(CLI::App& app) {
  auto* updates =
      app.add_subcommand("updates", "Which installed apps, and this program, have a newer version");
  static bool updatesJson = false;
  updates->add_flag("--json", updatesJson, "Print the report as JSON");
  updates->callback([] { printUpdates(updatesJson); });

  auto* self = app.add_subcommand(
      "self-update", "Check for a newer Zemra Norvo, stage it and replace this one once you agree");
  static bool checkOnly = false;
  self->add_flag("--check", checkOnly, "Only say whether a newer version exists");
  self->callback([] { selfUpdate(checkOnly); });
}

}  // namespace norvo::cli
