// The iOS Simulator's devices, which often hang in the kernel and slow the
// whole machine: shut them down through xcrun, or force-stop their processes.
// Where there is no Xcode (any Linux machine) the operations say so honestly
// ("xcrun not available: …") or find nothing to stop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/measure/process_table.hpp"

namespace norvo::Simulators {

// Runs `xcrun simctl shutdown all` for at most `timeout` seconds: (true,
// "simctl shutdown all: done"), or false with "xcrun not available: …", "simctl
// shutdown all did not finish in N s; a restart frees a hung simulator" or
// "simctl shutdown all failed: " and the first 200 characters of its output.
std::pair<bool, std::string> shutDownAll(double timeout,
                                         const std::filesystem::path& xcrun = "/usr/bin/xcrun");

// The pids of `uid`'s simulator device processes: their program lies in a
// "/CoreSimulator/" folder. Zombies are left out: they have ended.
std::vector<int32_t> devicePids(const ProcessReadings& readings, uint32_t uid);

// Sends SIGKILL to the calling user's simulator device processes ("launchd_sim"
// first, one per device), then re-reads the table every 0.5 s until none is
// left or `wait` seconds have passed (at least one round). Returns (killed,
// still running); (0, 0) at once when there are none. `table` is the process
// table to read and pin through (the shared one by default).
std::pair<int, int> forceStopDevices(double wait, ProcessTable& table = ProcessTable::shared());

}  // namespace norvo::Simulators
