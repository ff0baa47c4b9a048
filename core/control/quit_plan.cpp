#include "core/control/quit_plan.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/platform/process_signal.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo {

namespace {

constexpr std::string_view simulatorBundle =
    "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app";

// The calling user's processes whose owning bundle is `item`'s.
std::vector<int32_t> membersOf(const QuitSuggestion::Item& item, const ProcessReadings& readings,
                               uint32_t me) {
  std::vector<int32_t> members;
  for (const auto& [pid, r] : readings) {
    if (r.uid != me) continue;
    auto bundle = ProcessTable::owningBundle(r, readings);
    if (bundle && *bundle == item.bundlePath) members.push_back(pid);
  }
  return members;
}

}  // namespace

QuitPlan::Kind QuitPlan::forBundle(std::string_view bundlePath) {
  return bundlePath == simulatorBundle ? shutDownSimulators : terminateApp;
}

bool QuitPlan::carryOut(const QuitSuggestion::Item& item, ProcessTable& table, double grace) {
  return carryOut(item, table.read(std::chrono::seconds(2)), table, grace);
}

bool QuitPlan::carryOut(const QuitSuggestion::Item& item, const ProcessReadings& readings,
                        const ProcessTable& table, double grace) {
  if (forBundle(item.bundlePath) == shutDownSimulators) return false;
  const auto& source = table.source();
  std::vector<int32_t> members = membersOf(item, readings, source.currentUid());
  // Signalled through a pin, and waited on through it: a pid reused during
  // the grace period must neither be signalled nor keep the app "open".
  std::vector<platform::PinnedProcess> signalled;
  bool allGone = true;
  for (int32_t pid : members) {
    if (auto pinned = table.pin(readings.at(pid)); pinned && pinned->send(SIGTERM)) {
      signalled.push_back(std::move(*pinned));
      continue;
    }
    // Members that could not be signalled and are still there keep the app open.
    auto now = source.basics(pid);
    if (now && now->startTime == readings.at(pid).startTime && now->state != 'Z') allGone = false;
  }
  auto until = std::chrono::steady_clock::now() +
               std::chrono::duration<double>(std::isfinite(grace) ? grace : 0.0);
  for (const auto& p : signalled) {
    while (!p.exited() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!p.exited()) allGone = false;
  }
  return allGone;
}

QuitSuggestion QuitPlan::answer(QuitSuggestion suggestion, bool quitApps, ProcessTable& table,
                                const std::filesystem::path& storeDirectory, double grace,
                                std::map<std::string, std::string>* keptBecause) {
  suggestion.quit.clear();
  suggestion.kept.clear();
  // One reading of the process list for every app: each member is checked
  // again by start time when it is pinned, so the reading cannot go stale.
  ProcessReadings readings;
  if (quitApps) readings = table.read(std::chrono::seconds(2));
  uint32_t me = table.source().currentUid();
  for (const auto& item : suggestion.items) {
    // An app that no longer runs was not quit by this answer: saying so, and
    // logging a quit of its old main pid, would report what did not happen.
    if (quitApps && membersOf(item, readings, me).empty()) {
      suggestion.kept.push_back(item.name);
      if (keptBecause) (*keptBecause)[item.name] = "it was not running";
      continue;
    }
    if (quitApps && carryOut(item, readings, table, grace)) {
      suggestion.quit.push_back(item.name);
      NorvoStore::log({std::chrono::system_clock::now(), "owner", "quit_app", item.mainPid,
                       item.name, "suggestion " + suggestion.id + "; " + item.bundlePath},
                      storeDirectory);
    } else {
      suggestion.kept.push_back(item.name);
      if (keptBecause && quitApps) (*keptBecause)[item.name] = "it did not quit in time";
    }
  }
  suggestion.status = quitApps ? "accepted" : "declined";
  suggestion.answeredAt = std::chrono::system_clock::now();
  if (auto written = NorvoStore::resolve(suggestion, storeDirectory); !written)
    throw std::runtime_error("the answer was not recorded: " + written.error);
  return suggestion;
}

namespace QuitWatch {

bool isAlive(int32_t pid) {
  if (pid < 1) return false;
  return platform::probe(pid) != platform::SignalProbe::noProcess;
}

bool waitExit(int32_t pid, double timeoutSeconds) {
  if (pid < 1) return true;
  // Clamped to a day so that the conversion to clock ticks cannot overflow.
  double timeout = std::isfinite(timeoutSeconds) ? std::clamp(timeoutSeconds, 0.0, 86400.0) : 0.0;
  auto until = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(timeout));
  for (;;) {
    if (!isAlive(pid)) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(200), until - now));
  }
}

}  // namespace QuitWatch

}  // namespace norvo
