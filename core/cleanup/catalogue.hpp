// The catalogue behind Cleanup::preview and Cleanup::run: the fixed targets
// with the folder each has on this system, and the search for the computed
// items. Internal to the cleanup; the tests read the table from here.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/cleanup/cleanup.hpp"

namespace norvo::Cleanup::catalogue {

struct Target {
  std::string id, title, titleRu;
  // Where the folder is looked up here: "~/…" below the home folder,
  // "$XDG_CACHE_HOME/…" below the account's cache folder (the counterpart of
  // macOS "~/Library/Caches/…").
  std::vector<std::string> folders;
  Removal removal = Removal::contents;
  std::string after, afterRu;
  bool recommended = true;
  std::set<std::string> busy;  // process names that make it wait
};

// The fixed catalogue, in its order.
const std::vector<Target>& fixedTargets();

// A folder of `fixedTargets` as a path on this system.
std::filesystem::path resolve(const std::string& folder, const Places& places);

// One catalogue entry with what the runner needs beyond the item.
struct Entry {
  Item item;
  std::filesystem::path base;  // the folder its paths must lie in (home, or the temporary folder)
  std::optional<uint32_t> owner;              // entries must belong to this user ("temp-files")
  std::vector<std::string> runtimeIDs;        // "old-simulator-runtimes"
  std::optional<std::filesystem::path> brew;  // "homebrew-old"
};

using Clock = std::chrono::steady_clock;

// The catalogue computed now: fixed targets, then computed items, each with
// its busy reason. `search` bounds the searches for the computed items; sizes
// are left to the caller.
std::vector<Entry> compute(const NorvoConfig& config, bool userFolders, Clock::time_point search,
                           const Context& context);

// Fills each entry's bytes, one task per entry, until `deadline`; an entry
// not measured by then keeps its size absent.
void measure(std::vector<Entry>& entries, Clock::time_point deadline);

// The running process names of `user` in `readings` (name, kernel command
// name and the base names of the program and executable).
std::set<std::string> runningNames(const ProcessReadings& readings, uint32_t user);

// The first of `busy`, in sorted order, that runs.
std::optional<std::string> busyName(const std::set<std::string>& busy,
                                    const std::set<std::string>& running);

}  // namespace norvo::Cleanup::catalogue
