// "Free up space": a fixed catalogue of things on a developer's machine that
// regenerate or are junk (build data, package caches, old versions, stale
// downloads…), a preview that finds which of them exist now and how big they
// are, and a runner that removes the chosen ones in the safe way for each.
//
// This is the first code that deletes the owner's files, so every path is
// checked at the moment of removal: inside the home folder (the temporary
// folder for "temp-files"), no link anywhere along it, and the removal itself
// never follows a link (see core/platform/file_removal.hpp). Agents never run
// it: they file a CleanupSuggestion that the owner answers.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/measure/norvo_config.hpp"
#include "core/measure/process_table.hpp"
#include "core/records/json_codec.hpp"
#include "core/store/cleanup_suggestion.hpp"
#include "core/uninstall/uninstall.hpp"

namespace norvo::Cleanup {

// How an item goes.
enum class Removal {
  contents,  // every entry inside each listed folder is deleted; the folder stays
  delete_,   // each listed path is deleted
  trash,     // each listed path is moved to the Trash
  command,   // a tool is run
};
// "contents", "delete", "trash", "command".
std::string_view rawValue(Removal removal);
std::optional<Removal> removalFromRaw(std::string_view raw);
void to_json(nlohmann::json& j, Removal removal);
void from_json(const nlohmann::json& j, Removal& removal);

struct Item {
  std::string id;
  std::string title;
  std::string titleRu;
  std::vector<std::string> paths;  // absolute; may be empty for a command
  std::optional<int64_t> bytes{};  // absent when not measured within the budget
  Removal removal = Removal::contents;
  std::string after;
  std::string afterRu;
  bool recommended = false;
  std::optional<std::string> skipped{};    // "NAME is running"
  std::optional<std::string> skippedRu{};  // "сейчас работает NAME"

  friend bool operator==(const Item&, const Item&) = default;
};
void to_json(nlohmann::json& j, const Item& item);
void from_json(const nlohmann::json& j, Item& item);

struct Result {
  std::vector<std::string> cleaned;            // ids of the items processed
  std::map<std::string, std::string> skipped;  // id → reason
  int64_t freedBytes = 0;  // change of the startup volume's free space over the run
  std::vector<std::string> errors;

  friend bool operator==(const Result&, const Result&) = default;
};
void to_json(nlohmann::json& j, const Result& result);
void from_json(const nlohmann::json& j, Result& result);

inline constexpr std::array<std::string_view, 11> fixedIDs{
    "xcode-derived-data", "simulator-caches", "swiftpm-cache",     "cocoapods-cache",
    "homebrew-cache",     "npm-cache",        "yarn-cache",        "pip-cache",
    "go-build-cache",     "gradle-cache",     "huggingface-models"};
inline constexpr std::array<std::string_view, 11> dynamicIDs{"unavailable-simulators",
                                                             "installers",
                                                             "project-build-folders",
                                                             "temp-files",
                                                             "old-logs",
                                                             "partial-downloads",
                                                             "homebrew-old",
                                                             "device-support",
                                                             "old-simulator-runtimes",
                                                             "old-app-versions",
                                                             "old-tool-versions"};
inline constexpr std::array<std::string_view, 3> protectedFolders{"~/Desktop", "~/Documents",
                                                                  "~/Downloads"};

// The refusal texts, each following the path in an error line.
inline constexpr std::string_view kRefused = ": refused (outside home or a link)";
inline constexpr std::string_view kNotTemporary = ": refused (not in the temporary folder)";
inline constexpr std::string_view kNothingToClean = "nothing to clean";

// Where the catalogue looks on this machine.
struct Places {
  std::filesystem::path home;
  std::filesystem::path cacheHome;                      // $XDG_CACHE_HOME, ~/.cache
  std::filesystem::path dataHome;                       // $XDG_DATA_HOME, ~/.local/share
  std::filesystem::path stateHome;                      // $XDG_STATE_HOME, ~/.local/state
  std::filesystem::path desktop, documents, downloads;  // the XDG user folders
  // The user's temporary folder: $TMPDIR when that is a folder other than
  // "/", the home folder, a folder above it or a protected folder; else /tmp.
  std::filesystem::path temporary;
  uint32_t user = 0;  // whose temporary entries may go

  // This account's places, from the environment and user-dirs.dirs.
  static Places forUser();
  // Every place at its default below `home`, the temporary folder `temporary`.
  static Places under(const std::filesystem::path& home, const std::filesystem::path& temporary);

  // "~" and "~/…" expanded with `home`; other texts unchanged.
  std::filesystem::path expand(std::string_view path) const;
};

// What the catalogue and the runner read, and where they write; tests point
// every part elsewhere.
struct Context {
  Places places;
  std::filesystem::path store;  // actions log, the stored user-folder permission
  std::function<ProcessReadings()> readProcesses;
  // The free space of the startup volume; absent (read as 0) when unknown.
  std::function<std::optional<int64_t>()> freeSpace;
  // Homebrew, the first of these that exists.
  std::vector<std::filesystem::path> brewTools;
  std::filesystem::path xcrun;
  // How long a tool of a command item may run before it is stopped.
  std::chrono::duration<double> toolLimit{120};
  // The uninstaller's view of the installed apps ("old-app-versions").
  Uninstall::Context apps;
  // Called right before each item is removed, with its id: the moment after
  // the catalogue was computed afresh, in which the tree may still change.
  // Tests change it there; nothing else sets it.
  std::function<void(const std::string&)> beforeRemoving;

  // The owner's folders, the store directory, the shared process table with a
  // 2-second deadline, the free space of "/" and the system's tools.
  static Context forUser();
};

// The safety check every removal passes: `path`, standardised, begins with `base` followed by
// "/" and is at least two characters longer than that, and no component of
// it below `base`, nor the path itself, is a symbolic link. Returns the
// standardised path when it passes.
std::optional<std::filesystem::path> safePath(const std::filesystem::path& path,
                                              const std::filesystem::path& base);

// The catalogue as it stands: the fixed targets that have something to
// remove, in catalogue order, then the computed items that qualified. Sizes
// are measured concurrently, one task per item; a size not measured within
// `timeout` seconds stays absent. Items in the protected user folders
// ("installers", "partial-downloads") and project roots inside them are
// looked at only with `userFolders`.
std::vector<Item> preview(const NorvoConfig& config, double timeout, bool userFolders,
                          const Context& context = Context::forUser());

// What a dry run found or a run did, one line per path, for the owner's view.
struct Step {
  std::string id;
  Removal removal = Removal::contents;
  std::string path;  // a path, or the tool's command line
  std::optional<int64_t> bytes{};
  bool ok = false;
};

struct RunOptions {
  std::string actor = "owner";
  std::string detail;  // why, e.g. the reason of a suggestion
  bool logActions = true;
  // Computes the catalogue, checks and measures every path exactly as the run
  // would, and removes nothing (tools are not run); `steps` list what would
  // go. Nothing is logged.
  bool dryRun = false;
  std::vector<Step>* steps = nullptr;  // receives the steps when given
};

// Cleans the items `ids` names, in that order, on a catalogue computed afresh
// (60-second budget, the stored user-folder permission). Unknown or empty ids,
// and items with nothing to remove, are skipped with "nothing to clean"; busy
// items with their reason. Every path is checked again right before it goes;
// a refusal or failure is an error line and the run goes on.
Result run(const std::vector<std::string>& ids, const NorvoConfig& config,
           const RunOptions& options, const Context& context = Context::forUser());

// The actions-log text of one processed item: "1.5 GB · contents · 2 path(s)",
// then " · N error(s)" when there were errors, then " · detail".
std::string logText(const Item& item, size_t errorCount, std::string_view detail);

// The owner's answer to an agent's cleanup suggestion. Accepted, the suggested
// ids are cleaned by `run` (actor "owner", detail "suggested by an agent: " and
// the reason) and the suggestion reads "accepted" when at least one item was
// cleaned, else "failed"; kept, it reads "declined". Either way `answeredAt`
// is now, `cleaned` and `freedBytes` tell what was done, and the suggestion
// is resolved in the context's store (a failed write throws
// std::runtime_error). `outcome` receives the run's result when given.
CleanupSuggestion answer(CleanupSuggestion suggestion, bool accept, const NorvoConfig& config,
                         const Context& context = Context::forUser(), Result* outcome = nullptr);

}  // namespace norvo::Cleanup
