// The load judgement: from one sample of the machine, the owner's apps, the
// tasks AI agents started and the processes hung in the kernel, decide how
// loaded the machine is, why (in English and Russian), how many heavy jobs and
// build threads an agent may run now, and what agents should do about it.
// Pure: no state, no clock, no I/O; safe to call from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/assess/assessment.hpp"
#include "core/measure/norvo_config.hpp"
#include "core/measure/process_sample.hpp"
#include "core/measure/system_metrics.hpp"

namespace norvo {

struct Advisor {
  Advisor() = delete;

  // The whole judgement. Only `config.neverSuggest` is read. Never throws.
  // Non-finite figures (usage, load, free cores, swap rate in `metrics`, CPU
  // percents of apps and tasks) count as 0, so they neither fire a rule nor
  // show up as "nan" in a sentence; a machine without any volume, or with a
  // negative free space, counts as having 0 GB free.
  static Assessment assess(const SystemMetrics& metrics, const std::vector<AppGroup>& apps,
                           const std::vector<ProcessSample>& aiTasks,
                           const std::vector<std::string>& hung, const NorvoConfig& config);

  // The app may be proposed for quitting at all: one of the owner's apps and
  // not on the configuration's never-suggest list.
  static bool mayPropose(const AppGroup& app, const NorvoConfig& config);

  // A process's or app's share of the machine: its CPU over all cores plus its
  // memory over all memory (one full core of 10 and a tenth of memory is 0.2).
  // Cores of 0 or fewer count as one, memory of 0 as one byte; a non-finite
  // cpuPercent counts as 0.
  static double impact(double cpuPercent, uint64_t memoryBytes, const SystemMetrics& metrics);
};

}  // namespace norvo
