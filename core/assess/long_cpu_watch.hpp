// Finds processes that have kept a processor core busy for minutes. One
// busy sample (80% of a core or more) starts a track; the track lives while
// busy samples keep coming at most 15 seconds apart, and its process is
// reported once the busy period has lasted 5 minutes. The watch is the only
// state kept between ticks; its owner calls `update` once per tick from one
// thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/assess/health.hpp"
#include "core/measure/process_sample.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

struct LongCPUWatch {
  // Percent of one core from which a sample counts as busy.
  static constexpr double busyPercent = 80;

  struct Track {
    Date since{};       // first busy sample of this busy period
    Date lastAbove{};   // latest busy sample
    double cpuSum = 0;  // CPU percents of the busy samples
    int64_t samples = 0;

    friend bool operator==(const Track&, const Track&) = default;
  };

  // By process key: one entry per process instance with a live busy period.
  std::map<std::string, Track> tracks;

  // Feeds one tick: each pair is a process key (stable for one process
  // instance, distinct across instances) and its sample. Returns the processes
  // busy for 5 minutes or more, longest first (ties in input order). Keys
  // absent from this tick, and tracks without a busy sample for more than 15
  // seconds, are forgotten. A non-finite cpuPercent is not busy.
  std::vector<LongCPUProcess> update(
      const std::vector<std::pair<std::string, ProcessSample>>& samples, Date now);
};

}  // namespace norvo
