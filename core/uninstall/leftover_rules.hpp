// Which entries of the owner's data folders belong to an app. The rules guard
// against the worst fault an uninstaller can have, removing another app's data:
// an entry named after a longer identifier belongs to the more specific app,
// a name another installed app also has is never used, and nothing outside the
// data folders of home is offered. Pure: the folders are listed by a function
// the caller passes.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/uninstall/uninstall_app.hpp"
#include "core/uninstall/uninstall_records.hpp"

namespace norvo::Uninstall {

// One data folder of home searched for leftovers.
struct LeftoverFolder {
  std::string label;           // its path relative to home, the leftover's `folder`
  std::filesystem::path path;  // absolute
  bool byName = false;         // entries may also match by the app's names
};

// The data folders of home, in search order, from their absolute locations:
// $XDG_DATA_HOME, $XDG_CONFIG_HOME, $XDG_CACHE_HOME, $XDG_STATE_HOME (matched
// by id and by name: the counterparts of Application Support, Preferences,
// Caches and Logs), then the desktop entries, autostart entries and systemd
// user units (the counterparts of LaunchAgents) and the Flatpak sandboxes in
// ~/.var/app (the counterpart of Containers), matched by id only. A folder
// that does not lie inside `home` is left out.
std::vector<LeftoverFolder> leftoverFolders(const std::filesystem::path& home,
                                            const std::filesystem::path& dataHome,
                                            const std::filesystem::path& configHome,
                                            const std::filesystem::path& cacheHome,
                                            const std::filesystem::path& stateHome);

// The endings removed from an entry's name before it is compared with an
// identifier, each tried once in this order: desktop entries and systemd units
// are named after the app id plus these.
inline constexpr std::string_view kIdEndings[] = {".desktop", ".service", ".timer"};

// Whether the entry `entryName` belongs to the app with identifier `id`, given
// the identifiers of the other installed apps: what remains after the endings
// equals `id` or begins with `id` + "."; but an entry that a longer identifier
// of another app also matches that way is that app's.
bool matchesIdentifier(std::string_view entryName, std::string_view id,
                       const std::vector<std::string>& otherIDs);

// What is known of the app whose leftovers are looked for.
struct LeftoverQuery {
  App app;
  std::optional<std::string> displayName;   // the desktop entry's "Name"
  std::vector<std::string> desktopEntries;  // desktop entries that start it
  std::vector<std::string> icons;           // icon files installed with those entries
};

using FolderLister = std::function<std::vector<std::string>(const std::filesystem::path&)>;

// The leftovers of `query.app` in `folders`, without sizes:
// 1. by identifier, in every folder, through `matchesIdentifier`;
// 2. by name, in the folders that allow it: the app's name (byName false) and
//    its display name (byName true), each skipped when it has 2 characters or
//    fewer or equals, ignoring case, the name of another installed app; an
//    entry matches when its name equals the candidate ignoring case;
// 3. the desktop entries that start the app (byName false).
// A path found twice is listed once; a path that does not lie inside one of
// the folders is dropped. Links are not looked at here: the caller drops
// leftovers reached through one.
std::vector<Leftover> findLeftovers(const LeftoverQuery& query, const std::vector<App>& others,
                                    const std::vector<LeftoverFolder>& folders,
                                    const FolderLister& list);

// The innermost folder of `folders` that `path` lies strictly inside, lexically.
std::optional<LeftoverFolder> folderHolding(const std::filesystem::path& path,
                                            const std::vector<LeftoverFolder>& folders);

// ASCII case-insensitive equality, as the names of app folders are compared.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace norvo::Uninstall
