// Removing the owner's files for the uninstaller and the cleanup: to the
// freedesktop Trash or at once, and measuring what would go. Everything that removes is checked at
// the moment of acting: the item is reached from the base folder through
// descriptors only, no component may be a link, and a deletion walks the tree
// with descriptor-relative calls that never follow a link, so a folder swapped
// for a link between the check and the act cannot lead the removal elsewhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/roots.hpp"

namespace norvo::platform {

// Where an item stands right before it is acted on.
enum class ItemCheck {
  present,  // reachable below the base without any link, and not a link itself
  outside,  // not below the base, or reached through a link, or a link itself
  gone,     // not there
};

// Checks `path` (absolute) against `base`: opened from `base` with the kernel
// refusing links and escapes (openat2 RESOLVE_BENEATH|RESOLVE_NO_SYMLINKS,
// falling back to an O_NOFOLLOW walk component by component where openat2 is
// missing).
ItemCheck checkBelow(const std::filesystem::path& base, const std::filesystem::path& path);

// The outcome of one removal: success with the bytes it freed, or the errno
// value and a message for the owner.
struct Removal {
  bool ok = false;
  int64_t bytes = 0;  // allocated bytes of the item (hard links counted once)
  int errorCode = 0;  // errno value of the failure; 0 on success
  std::string message;
  // What the check right before acting found; anything but `present` means
  // nothing was touched.
  ItemCheck check = ItemCheck::present;
};

// Deletes `path` and everything inside it, below `base`: checked as
// `checkBelow`, then removed with unlinkat relative to folder descriptors
// opened with O_NOFOLLOW; folders on another device are left alone (the
// removal then fails with the error of the folder that stayed). With
// `dryRun` the same walk counts the bytes and removes nothing, so a preview
// and the act cannot disagree. With `owner`, an entry owned by another user
// (the item itself or anything inside it) ends the walk with EPERM and is
// left as it is.
Removal deleteBelow(const std::filesystem::path& base, const std::filesystem::path& path,
                    bool dryRun = false, std::optional<uint32_t> owner = std::nullopt);

// The entry names of the folder `path` (below `base`, checked as
// `checkBelow`), listed through the descriptor that check opened, in no
// particular order. With `check` other than `present`, or a non-zero
// `errorCode` (the folder could not be listed, or the listing broke off),
// `names` holds what was read, possibly nothing.
struct Listing {
  ItemCheck check = ItemCheck::outside;
  int errorCode = 0;
  std::vector<std::string> names;
};
Listing listBelow(const std::filesystem::path& base, const std::filesystem::path& path);

// Moves `path` to the freedesktop Trash through GIO (g_file_trash: the home
// trash in $XDG_DATA_HOME/Trash, or the volume's .Trash-UID, with an info
// file giving the original path and the deletion date, so that a file
// manager can restore it), after the same check as `deleteBelow`. GIO renames
// the item by its path; a link there is moved, never followed.
Removal trashBelow(const std::filesystem::path& base, const std::filesystem::path& path);

// The allocated bytes of `path` and everything inside it, without following
// links; absent when it cannot be read or `deadline` passes first.
std::optional<int64_t> measureBytes(const std::filesystem::path& path,
                                    std::chrono::steady_clock::time_point deadline);

// Uninstalls a Flatpak app of the user's installation with the flatpak
// program (`flatpak uninstall --user --noninteractive APP-ID`, an argument
// vector, at most 120 seconds, through `runTool`), which also removes its exported desktop entry
// and prunes what only it used. The message carries flatpak's own.
Removal uninstallFlatpak(const std::string& appID);

// The bytes an unprivileged user may still write on the volume holding `path`
// (statvfs: available blocks × fragment size); absent when it cannot be read.
std::optional<int64_t> availableBytes(const std::filesystem::path& path);

// The user id owning `path` itself (a link is not followed); absent when it
// cannot be examined.
std::optional<uint32_t> ownerOf(const std::filesystem::path& path);

// The real user id of this process.
uint32_t currentUser();

// A file's identity: its device and inode number.
using FileIdentity = std::pair<uint64_t, uint64_t>;

// The identity of `path` itself (a link is not followed); absent when it
// cannot be examined.
std::optional<FileIdentity> identityOf(const std::filesystem::path& path);

// The files some process holds a lock on now (flock, POSIX and open file
// description locks, waiters included), from "locks" under `roots.proc`;
// empty when it cannot be read. A locked file is in use, however old it is.
std::set<FileIdentity> lockedFiles(const Roots& roots);

// Whether `path` can be listed as a folder and so can each folder directly
// inside it.
bool canListFolder(const std::filesystem::path& path);

}  // namespace norvo::platform
