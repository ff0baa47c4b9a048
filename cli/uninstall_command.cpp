// The owner's uninstaller: `zemnorvo apps` lists the installed apps and
// `zemnorvo uninstall` removes one with its leftovers, or retries what failed
// before. Run under an AI agent, `uninstall` refuses: agents file
// suggest_uninstall and the owner answers it.
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/owner_guard.hpp"
#include "core/assess/text_format.hpp"
#include "core/measure/session.hpp"
#include "core/uninstall/uninstall.hpp"
#include "core/uninstall/uninstall_digest.hpp"

namespace norvo::cli {

namespace {

using text_format::printable;

// Measuring a big app takes long; what is not done in time shows as "?".
constexpr double kMeasureSeconds = 10;

std::string size(const std::optional<int64_t>& bytes) {
  if (!bytes) return "?";
  double b = static_cast<double>(*bytes);
  if (b >= 1024.0 * 1024.0 * 1024.0)
    return fmt::format("{:.1f} GiB", b / (1024.0 * 1024.0 * 1024.0));
  return fmt::format("{:.1f} MiB", b / (1024.0 * 1024.0));
}

void printApps(bool json) {
  auto apps = Uninstall::installedApps(true, kMeasureSeconds, Uninstall::Context::forUser());
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& a : apps) list.push_back(Compact::installedApp(a));
    std::printf("%s\n", json_codec::encode(nlohmann::json{{"apps", list}}).c_str());
    return;
  }
  if (apps.empty()) {
    std::printf(
        "No apps installed in your own folders: no Flatpak apps, no AppImages in ~/Applications, "
        "~/.local/bin or ~/Apps, no programs there with a desktop entry.\n");
    return;
  }
  std::printf("%-28s %-12s %10s %-20s %-7s %s\n", "NAME", "VERSION", "SIZE", "LAST USED", "RUNNING",
              "PATH");
  for (const auto& a : apps)
    std::printf("%-28s %-12s %10s %-20s %-7s %s\n", printable(a.name).c_str(),
                printable(a.version.value_or("-")).c_str(), size(a.bytes).c_str(),
                a.lastUsed ? formatIso8601(*a.lastUsed).c_str() : "-", a.running ? "yes" : "no",
                printable(a.path).c_str());
}

void printResult(const Uninstall::Result& r, bool dryRun) {
  for (const auto& p : r.trashed)
    std::printf("%s %s\n",
                dryRun ? "would move to the Trash:" : "moved to the Trash:", printable(p).c_str());
  for (const auto& p : r.deleted)
    std::printf("%s %s\n", dryRun ? "would delete:" : "deleted:", printable(p).c_str());
  for (const auto& f : r.failures)
    std::printf("not removed: %s: %s (%s)\n", printable(f.path).c_str(),
                printable(f.reason).c_str(), std::string(Uninstall::rawValue(f.kind)).c_str());
  if (!dryRun) {
    std::printf("%s\n", printable(Uninstall::summary(r)).c_str());
  } else {
    std::printf("%s would be freed\n", size(r.bytes).c_str());
  }
}

struct UninstallArgs {
  std::string app;
  std::vector<std::string> leftovers;
  bool permanently = false;
  bool dryRun = false;
  bool retry = false;
};

void uninstall(const UninstallArgs& args) {
  refuseUnderAgent("zemnorvo uninstall", "suggest_uninstall");
  auto context = Uninstall::Context::forUser();
  if (args.retry) {
    if (Uninstall::savedFailures(context.store).empty()) {
      std::printf("Nothing to retry.\n");
      return;
    }
    auto result = Uninstall::retry(args.permanently, true, {}, context);
    printResult(result, false);
    if (!result.errors.empty()) throw CLI::RuntimeError(1);
    return;
  }
  if (args.app.empty()) {
    std::fprintf(stderr, "zemnorvo: name the app to uninstall, or give --retry\n");
    throw CLI::RuntimeError(1);
  }
  auto apps = Uninstall::installedApps(false, 0, context);
  auto app = Uninstall::find(args.app, apps);
  if (!app) {
    std::fprintf(stderr, "zemnorvo: %s%s\n", printable(args.app).c_str(),
                 std::string(Uninstall::kNotOffered).c_str());
    throw CLI::RuntimeError(1);
  }
  auto found = Uninstall::leftovers(*app, apps, false, 0, context);
  // By default the leftovers found by id or file name go; those found by the
  // display name alone only when named.
  std::vector<std::string> chosen;
  bool all = args.leftovers.size() == 1 && args.leftovers[0] == "all";
  bool none = args.leftovers.size() == 1 && args.leftovers[0] == "none";
  for (const auto& l : found)
    if (all || (args.leftovers.empty() && !l.byName)) chosen.push_back(l.path);
  if (!all && !none) {
    for (const auto& id : args.leftovers) {
      auto it =
          std::find_if(found.begin(), found.end(), [&](const auto& l) { return l.path == id; });
      if (it == found.end()) {
        std::fprintf(stderr, "zemnorvo: %s is not a leftover of %s\n", printable(id).c_str(),
                     printable(app->name).c_str());
        throw CLI::RuntimeError(1);
      }
      chosen.push_back(id);
    }
  }
  Uninstall::RunOptions options;
  options.detail = "zemnorvo uninstall";
  options.permanently = args.permanently;
  options.dryRun = args.dryRun;
  auto result = Uninstall::run(app->path, chosen, options, context);
  printResult(result, args.dryRun);
  for (const auto& l : found)
    if (std::find(chosen.begin(), chosen.end(), l.path) == chosen.end())
      std::printf("left in place: %s%s\n", printable(l.path).c_str(),
                  l.byName ? " (found by the display name only; --leftovers all takes it)" : "");
  if (!result.errors.empty()) {
    for (const auto& e : result.errors)
      std::fprintf(stderr, "zemnorvo: %s\n", printable(e).c_str());
    throw CLI::RuntimeError(1);
  }
}

}  // namespace

void addUninstallCommands(CLI::App& app) {
  auto* apps = app.add_subcommand("apps", "The installed apps: size, last use, whether running");
  static bool appsJson = false;
  apps->add_flag("--json", appsJson, "Print the apps as the agent digest shows them");
  apps->callback([] { printApps(appsJson); });

  auto* remove = app.add_subcommand(
      "uninstall", "Uninstall an app with its leftovers (to the Trash unless --permanently)");
  static UninstallArgs args;
  remove->add_option("app", args.app, "Name, id or path of the app (see zemnorvo apps)");
  remove->add_option("--leftovers", args.leftovers,
                     "all, none, or the leftover paths to remove (default: those found by id "
                     "or file name)");
  remove->add_flag("--permanently", args.permanently, "Delete at once instead of the Trash");
  remove->add_flag("--dry-run", args.dryRun, "Show what would go and remove nothing");
  remove->add_flag("--retry", args.retry, "Try the items that failed before again");
  remove->callback([] { uninstall(args); });
}

}  // namespace norvo::cli
