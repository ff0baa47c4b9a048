// The file-based exchange point between the product's processes: the app
// publishes its latest snapshot, every process appends to the actions log,
// agents file suggestions and scan requests that the app answers. Every call
// opens, reads or writes its files afresh and never throws; no lock is taken.
// Writes return their outcome, so that a caller who waits on one (an agent
// filing a suggestion, the loop publishing) can say what failed and why.
// Records are replaced whole and atomically, the log is only ever appended to.
//
// Every operation takes the store directory as its last argument, defaulting
// to `directory()`, so that tests and tools can point it at another folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/roots.hpp"
#include "core/platform/store_directory.hpp"
#include "core/records/norvo_store_action.hpp"
#include "core/store/cleanup_suggestion.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/store/scan_request.hpp"
#include "core/store/uninstall_suggestion.hpp"

namespace norvo::NorvoStore {

using Path = std::filesystem::path;

// The kernel name of the product's sampling loop (fits the 15-byte limit).
inline constexpr std::string_view appProcessName = "Zemra Norvo";

// The longest line `log` writes, line feed included. Longer actions are cut to
// fit: the detail first, then the name, actor and kind, each cut text ending in
// "…". One line is handed to the kernel in one write, so appends from several
// processes never interleave; the cap keeps that write and the log readable.
inline constexpr size_t maxLogLineBytes = 16 * 1024;

// "suggestions/pending" and "suggestions/done" under `dir`.
Path pendingDir(const Path& dir = directory());
Path doneDir(const Path& dir = directory());

// Whether `id` may name a record file: 1 to 128 characters from letters,
// digits, '-', '_' and '.', not starting with '.'. Ids of other shapes are
// never written, resolved or looked up (they could reach outside the folder).
bool isStorableId(std::string_view id);

// --- The app's published snapshot and whether the app is alive ---------------

// Writes `snapshot` as "status.json", replacing the previous one atomically.
record_file::Written saveStatus(const NorvoSnapshot& snapshot, const Path& dir = directory());

// The stored snapshot when it decodes and its time (`metrics.timestamp`) is at
// most `maxAge` seconds before now; absent otherwise. A snapshot dated in the
// future counts as fresh.
std::optional<NorvoSnapshot> cachedStatus(double maxAge, const Path& dir = directory());

// The age rule of `cachedStatus`: now minus `timestamp`, in seconds, is at most
// `maxAge`.
bool statusIsFresh(Date timestamp, double maxAge, Date now);

// Whether the product's app is alive: its "status.json" (in `roots.store`) is
// at most 20 seconds old, or a process of the calling user has the kernel name
// `appProcessName`.
bool appIsRunning(const platform::Roots& roots = platform::Roots::system());

// Gives the calling process the kernel name `appProcessName`, so that other
// processes see the app as running. The sampling loop calls it once at start.
// Returns false when the system refused.
bool nameThisProcessAsApp();

// --- The owner's flag for measuring user folders during cleanup -------------

// True exactly when "cleanup-user-folders" is a regular file.
bool scanUserFolders(const Path& dir = directory());
// true writes the current date to the marker file; false removes it (doing
// nothing when it is not there).
record_file::Written setScanUserFolders(bool on, const Path& dir = directory());

// --- The actions log ----------------------------------------------------------

// Appends one line to "actions.jsonl", creating the folder and file as needed.
// Does nothing when the store cannot be written.
void log(const Action& action, const Path& dir = directory());

// The exact bytes `log` appends for `action`: its encoding, cut to fit
// `maxLogLineBytes`, and a line feed.
std::string logLine(const Action& action);

// Up to `limit` most recent entries, newest first. Lines that do not decode
// (torn, corrupt, not UTF-8) are skipped, so fewer may come back. A missing or
// unreadable log, or a limit of 0 or less, gives an empty list.
std::vector<Action> recentActions(int64_t limit, const Path& dir = directory());

// --- Suggestions --------------------------------------------------------------
// add: writes "<id>.json" into the kind's pending folder.
// pending…: every ".json" record that decodes, oldest `created` first;
//   unreadable entries are skipped and left in place.
// resolve…: writes the record as given into the done folder, then removes it
//   from the pending folder; the pending file stays when the write failed.
// lookup by id: the done record, else the pending one, else absent; a lookup
//   racing a resolve still finds one of the two.

record_file::Written addSuggestion(const QuitSuggestion& s, const Path& dir = directory());
std::vector<QuitSuggestion> pendingSuggestions(const Path& dir = directory());
record_file::Written resolve(const QuitSuggestion& s, const Path& dir = directory());
std::optional<QuitSuggestion> suggestion(std::string_view id, const Path& dir = directory());

record_file::Written addCleanup(const CleanupSuggestion& s, const Path& dir = directory());
std::vector<CleanupSuggestion> pendingCleanups(const Path& dir = directory());
record_file::Written resolveCleanup(const CleanupSuggestion& s, const Path& dir = directory());
std::optional<CleanupSuggestion> cleanup(std::string_view id, const Path& dir = directory());

record_file::Written addUninstall(const UninstallSuggestion& s, const Path& dir = directory());
std::vector<UninstallSuggestion> pendingUninstalls(const Path& dir = directory());
record_file::Written resolveUninstall(const UninstallSuggestion& s, const Path& dir = directory());
std::optional<UninstallSuggestion> uninstall(std::string_view id, const Path& dir = directory());

// --- Scans --------------------------------------------------------------------

// Files the request in "scans/pending".
record_file::Written addScan(const ScanRequest& request, const Path& dir = directory());
// Open requests, oldest first, on the same rules as the pending suggestions.
std::vector<ScanRequest> pendingScans(const Path& dir = directory());
// Stores `json` unchanged as the result of scan `id`, then removes the pending
// request (which stays when the result could not be written).
record_file::Written finishScan(std::string_view id, std::string_view json,
                                const Path& dir = directory());
// The stored result text, invalid UTF-8 replaced by U+FFFD; absent until the
// scan is finished. The result file is left in place.
std::optional<std::string> scanResult(std::string_view id, const Path& dir = directory());

}  // namespace norvo::NorvoStore
