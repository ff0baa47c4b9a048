// What the app does once the owner agrees to quit an app an agent proposed:
// how to ask the app to go, and how long to watch for it to leave.
//
// On Linux there is no "ask an app to terminate" message: the counterpart is
// SIGTERM to every process of the owner that belongs to the app's bundle (or
// desktop entry), which well-behaved desktop programs treat as a request to
// save and quit. The Simulator has no Linux counterpart: its plan is kept so
// that suggestions read the same everywhere, and carrying it out quits nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "core/measure/process_table.hpp"
#include "core/store/quit_suggestion.hpp"

namespace norvo {

namespace QuitWatch {

// Seconds the app waits after asking an app to quit.
inline constexpr double grace = 6.0;

// False for pid < 1; true when signal 0 reaches the process or is refused with
// EPERM (the process exists but belongs to someone else).
bool isAlive(int32_t pid);

// True at once for pid < 1; otherwise polls every 200 ms until the process is
// gone (true) or `timeoutSeconds` passed (false). A zombie still counts as
// present until its parent reaps it.
bool waitExit(int32_t pid, double timeoutSeconds);

}  // namespace QuitWatch

struct QuitPlan {
  enum Kind { terminateApp, shutDownSimulators };

  // shutDownSimulators for exactly the Simulator app of Xcode, terminateApp for
  // any other bundle path.
  static Kind forBundle(std::string_view bundlePath);

  // Asks `item`'s app to quit and waits up to `grace` seconds for it to go.
  // True when none of its processes is left running (also when it had
  // already gone); false when some stayed, or for the Simulator, which has
  // nothing to quit here. Processes are found afresh in `table`: the main pid
  // of an old suggestion may belong to another program by now, so only
  // processes of the calling user whose owning bundle is the item's are
  // signalled, each checked by start time and pinned before the signal.
  static bool carryOut(const QuitSuggestion::Item& item, ProcessTable& table, double grace);
  // The same over `readings`, one reading of `table` shared by several items.
  static bool carryOut(const QuitSuggestion::Item& item, const ProcessReadings& readings,
                       const ProcessTable& table, double grace);

  // The owner's answer to `suggestion`: with `quitApps` every item is carried
  // out and listed under `quit` when it is gone, under `kept` when it stayed;
  // otherwise every item is kept. Status becomes "accepted" or "declined",
  // `answeredAt` now; each app quit is written to the actions log (actor
  // "owner", kind "quit_app"), and the record is resolved in `storeDirectory`
  // so that the agent reads the answer back. An app none of whose processes
  // runs any more is kept, not quit, and nothing is logged for it. Why each
  // app was kept goes into `keptBecause` when given. Returns the answered
  // record; throws std::runtime_error when the answer could not be stored.
  static QuitSuggestion answer(QuitSuggestion suggestion, bool quitApps, ProcessTable& table,
                               const std::filesystem::path& storeDirectory,
                               double grace = QuitWatch::grace,
                               std::map<std::string, std::string>* keptBecause = nullptr);
};

}  // namespace norvo
