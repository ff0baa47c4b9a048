#include "core/assess/long_cpu_watch.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/assess/text_format.hpp"

namespace norvo {

namespace {

// A sampling tick may be late or skipped; one missed busy sample must not
// reset a busy period that lasted minutes.
constexpr std::chrono::seconds grace{15};
constexpr std::chrono::seconds reportAfter{300};

}  // namespace

std::vector<LongCPUProcess> LongCPUWatch::update(
    const std::vector<std::pair<std::string, ProcessSample>>& samples, Date now) {
  std::map<std::string, Track> kept;
  std::vector<LongCPUProcess> result;

  for (const auto& [key, sample] : samples) {
    std::optional<Track> track;
    if (auto it = tracks.find(key); it != tracks.end()) track = it->second;

    const double cpu = text_format::finiteOrZero(sample.cpuPercent);
    if (cpu >= LongCPUWatch::busyPercent) {
      if (!track) track = Track{now, now, 0, 0};
      track->lastAbove = now;
      track->cpuSum += cpu;
      track->samples += 1;
    }

    if (!track || now - track->lastAbove > grace) continue;
    kept[key] = *track;
    if (now - track->since < reportAfter) continue;

    LongCPUProcess process;
    process.pid = sample.pid;
    process.name = sample.name;
    process.category = sample.category;
    process.appName = sample.appName;
    process.agentPid = sample.agentPid;
    process.orphaned = sample.orphaned;
    process.averageCPU =
        std::round(track->cpuSum / static_cast<double>(std::max<int64_t>(track->samples, 1)) * 10) /
        10;
    process.minutes = std::chrono::duration_cast<std::chrono::minutes>(now - track->since).count();
    result.push_back(std::move(process));
  }

  tracks = std::move(kept);
  std::stable_sort(
      result.begin(), result.end(),
      [](const LongCPUProcess& a, const LongCPUProcess& b) { return a.minutes > b.minutes; });
  return result;
}

}  // namespace norvo
