#include "core/cleanup/simulators.hpp"

#include <signal.h>

#include <algorithm>
#include <thread>

#include "core/platform/file_removal.hpp"
#include "core/platform/tool_run.hpp"

namespace norvo::Simulators {

namespace {

constexpr auto kReadDeadline = std::chrono::seconds(2);

}  // namespace

std::pair<bool, std::string> shutDownAll(double timeout, const std::filesystem::path& xcrun) {
  auto ran = platform::runTool({xcrun.string(), "simctl", "shutdown", "all"}, {},
                               std::chrono::duration<double>(std::max(0.0, timeout)));
  if (!ran.started) return {false, "xcrun not available: " + ran.error};
  if (ran.timedOut)
    return {false, "simctl shutdown all did not finish in " +
                       std::to_string(static_cast<int64_t>(timeout)) +
                       " s; a restart frees a hung simulator"};
  if (ran.exitStatus != 0)
    return {false, "simctl shutdown all failed: " + ran.output.substr(0, 200)};
  return {true, "simctl shutdown all: done"};
}

std::vector<int32_t> devicePids(const ProcessReadings& readings, uint32_t uid) {
  std::vector<int32_t> pids;
  for (const auto& [pid, r] : readings) {
    bool simulated = r.path.find("/CoreSimulator/") != std::string::npos ||
                     r.executable.find("/CoreSimulator/") != std::string::npos;
    // A zombie has ended already; only its parent's wait is left.
    if (r.uid == uid && simulated && r.state != 'Z') pids.push_back(pid);
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::pair<int, int> forceStopDevices(double wait, ProcessTable& table) {
  auto uid = platform::currentUser();
  auto readings = table.read(kReadDeadline);
  auto pids = devicePids(readings, uid);
  if (pids.empty()) return {0, 0};
  // Each device runs one launchd_sim; stopping it first keeps it from
  // restarting the others.
  std::stable_partition(pids.begin(), pids.end(),
                        [&](int32_t pid) { return readings.at(pid).name == "launchd_sim"; });
  for (int32_t pid : pids)
    if (auto pinned = table.pin(readings.at(pid))) pinned->send(SIGKILL);
  auto start = std::chrono::steady_clock::now();
  int left = 0;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    left = static_cast<int>(devicePids(table.read(kReadDeadline), uid).size());
  } while (left > 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::duration<double>(wait));
  return {static_cast<int>(pids.size()), left};
}

}  // namespace norvo::Simulators
