// Uninstalls apps the owner no longer wants, together with what they left in
// the owner's data folders, and keeps what could not be removed so that the
// owner can retry after granting access. Agents never call the removal: they
// file an UninstallSuggestion that the owner answers.
//
// Nothing is removed when the app is not one this module lists or is running;
// every item is checked again right before it goes (inside the allowed folders
// of home, no link on the way) and refused with its reason otherwise.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/measure/process_table.hpp"
#include "core/platform/app_bundle_source.hpp"
#include "core/platform/file_removal.hpp"
#include "core/store/uninstall_suggestion.hpp"
#include "core/uninstall/leftover_rules.hpp"
#include "core/uninstall/uninstall_app.hpp"
#include "core/uninstall/uninstall_records.hpp"

namespace norvo::Uninstall {

// Bundle identifiers never offered as installed apps: the browser the system
// relies on and the product itself.
inline constexpr std::string_view kNeverOffered[] = {"com.apple.Safari", "com.vadro.ZemraNorvo"};

// The failure file in the store directory.
inline constexpr std::string_view kFailureFile = "uninstall-leftovers.json";

// The fixed texts of refusals.
inline constexpr std::string_view kNotOffered = ": not an installed app Zemra Norvo offers";
inline constexpr std::string_view kIsRunning = " is running: quit it first";
inline constexpr std::string_view kRefusedReason = "refused (outside home or a link)";
inline constexpr std::string_view kGoneReason = "not found again, left alone";

// Where the module looks and what it reads; tests point every part elsewhere.
struct Context {
  platform::AppPlaces places;
  std::filesystem::path store;  // the store directory (failure file, actions log)
  std::function<ProcessReadings()> readProcesses;

  // The owner's real folders, the store directory and the shared process
  // table read with a 2-second deadline.
  static Context forUser();
};

// An installed app with what the leftover search needs beyond the record.
struct Installed {
  App app;
  platform::BundleKind kind = platform::BundleKind::appImage;
  std::optional<std::string> displayName;
  std::vector<std::string> desktopEntries;
};

// Whether `text` names the product itself (its id or names, ignoring case).
bool isProduct(std::string_view text);

// Every installed app but the never-offered ones, by name, with `running` from
// the context's processes; sizes not measured.
std::vector<Installed> installed(const Context& context);

// The apps of `installed`; with `measure`, sizes measured within `timeout`
// seconds (those not done in time stay absent).
std::vector<App> installedApps(bool measure, double timeout, const Context& context);

// Fills `bytes` of each app, measuring in parallel within `timeout` seconds.
void measureApps(std::vector<App>& apps, double timeout);

// The app `text` names, after trimming white space: equal ignoring case to its
// name, path or bundle id, or with any extension removed equal to its name.
std::optional<App> find(std::string_view text, const std::vector<App>& apps);

// The leftovers of `app` (see findLeftovers); `others` are the other
// installed apps. Leftovers reached through a link are dropped. With
// `measure`, sizes within `timeout` seconds.
std::vector<Leftover> leftovers(const App& app, const std::vector<App>& others, bool measure,
                                double timeout, const Context& context);

// The pids running from inside the app: their executable lies in the bundle
// (an AppImage's runtime runs as the file itself), or the desktop put them in
// the app's unit (a Flatpak app's scope, an app started from its entry).
std::vector<int32_t> processes(const App& app, const ProcessReadings& readings);

// A replacement for the removal of one path (tests, or a caller with its own
// way): returns the outcome as the Trash or deletion would.
using Remover = std::function<platform::Removal(const std::string& path)>;

struct RunOptions {
  std::string actor = "owner";
  std::string detail;  // why, for the actions log
  bool permanently = false;
  bool logActions = true;
  // Checks and measures everything and removes nothing; the result lists what
  // would go. Nothing is saved or logged.
  bool dryRun = false;
  Remover remove;
};

// Removes the app at `appPath` and the listed leftover paths (see the header).
Result run(const std::string& appPath, const std::vector<std::string>& leftoverPaths,
           const RunOptions& options, const Context& context);

// Tries the saved failures again, with the same checks; what still fails is
// saved again, and the actions log gets one entry by the owner.
Result retry(bool permanently, bool logActions, const Remover& remove, const Context& context);

// The owner's answer to an agent's uninstall suggestion. Accepted, the app and
// its preselected leftovers (found by id or file name) go to the Trash through
// `run`, logged by the owner with the agent's reason; the suggestion reads
// "accepted" when the app went, else "failed". Otherwise it reads "declined".
// Either way `answeredAt` is now, `removed`, `deleted` and `bytes` tell what
// was done, and the suggestion is resolved in the context's store. `outcome`
// receives the run's result when given.
UninstallSuggestion answer(UninstallSuggestion suggestion, bool accept, const Context& context,
                           Result* outcome = nullptr);

// Moves `path` (below `home`) to the Trash; deletes it at once.
platform::Removal moveToTrash(const std::filesystem::path& path, const std::filesystem::path& home);
platform::Removal deleteNow(const std::filesystem::path& path, const std::filesystem::path& home);

// The kind of a removal error: a permission error (EACCES, EPERM) is
// `protected` inside a Flatpak sandbox (~/.var/app), else `permission`; any
// other error is `other`.
Failure::Kind kindOf(int errorCode, std::string_view path);

// Whether a failure can be retried now: always, but a protected one only once
// its folder and the folders directly inside it can be listed.
bool canAccess(const Failure& failure);

// Writes the failures worth retrying (not `gone`, not `refused`) as the failure
// file, or removes the file when none remain. False when the write failed.
bool saveFailures(const std::vector<Failure>& failures, const std::filesystem::path& store);
// The saved failures; an unreadable file gives none.
std::vector<Failure> savedFailures(const std::filesystem::path& store);

// The actions-log summary: "2 item(s) to the Trash, 1 deleted, 0.3 GB freed,
// 1 error(s): …".
std::string summary(const Result& result);

}  // namespace norvo::Uninstall
