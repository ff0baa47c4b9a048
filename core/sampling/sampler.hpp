// One tick of the measuring loop: machine figures, every process classified
// and costed, the apps and AI tasks that matter, sensors, the load judgement
// and health. The Sampler is the only holder of state from tick to tick; the
// agent of each agent task is also kept on disk ("lineage.json") so orphans
// are still known after the agent, or this process, restarted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/assess/long_cpu_watch.hpp"
#include "core/assess/norvo_snapshot.hpp"
#include "core/measure/norvo_config.hpp"
#include "core/measure/process_table.hpp"
#include "core/measure/sensors.hpp"
#include "core/measure/session.hpp"
#include "core/measure/system_metrics.hpp"
#include "core/platform/roots.hpp"

namespace norvo {

class Sampler {
 public:
  // Where a sampler reads from and keeps its files. The defaults are the real
  // machine; tests swap in their own table, roots and store folder.
  struct Environment {
    ProcessTable* table = nullptr;  // null: the process-wide table
    platform::Roots roots = platform::Roots::system();
    std::filesystem::path storeDirectory;  // empty: the store directory
    int32_t selfPid = 0;                   // 0: this process
    bool readController = true;            // the machine's management controller, if any
  };

  explicit Sampler(NorvoConfig config);
  Sampler(NorvoConfig config, Environment environment);

  // One tick. Never throws: every source has its own fallback.
  NorvoSnapshot sample();

  // A fresh sampler samples twice, max(seconds, 0.1) apart, so that rates and
  // CPU shares are defined, and returns the second snapshot.
  static NorvoSnapshot measure(double seconds, const NorvoConfig& config);
  static NorvoSnapshot measure(double seconds, const NorvoConfig& config, Environment environment);

  NorvoConfig config;

  // Every sample of the last tick, heaviest first (the snapshot holds at most 30).
  const std::vector<ProcessSample>& lastSamples() const { return lastSamples_; }
  // The process readings of the last tick, by pid.
  const ProcessReadings& lastReadings() const { return lastProcesses_; }

  // ---- The rules, OS-free, for the tick above and for tests ----

  // The sample's share of the machine's processor plus its share of memory.
  static double weight(const ProcessSample& sample, const SystemMetrics& metrics);

  // Of samples sorted by weight: those among the `perAxis` highest by CPU or
  // by memory, in weight order.
  static std::vector<ProcessSample> heaviest(const std::vector<ProcessSample>& sorted,
                                             size_t perAxis = 15);

  // A changed lineage is written, except that an empty one never creates the file.
  static bool shouldWriteLineage(const Lineage& loaded, const Lineage& fresh, bool fileExists);

  static std::optional<Lineage> loadLineage(const std::filesystem::path& storeDirectory);

 private:
  Environment env_;
  std::optional<SystemReading> lastSystem_;
  ProcessReadings lastProcesses_;
  double lastTime_ = 0;
  std::vector<ProcessSample> lastSamples_;
  std::optional<SensorCounters> lastCounters_;
  LongCPUWatch longCPUWatch_;

  ProcessTable& table();
};

}  // namespace norvo
