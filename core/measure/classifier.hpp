// Sorts processes into AI agents, what serves them, what they started, the
// owner's apps and the system, from the configured vocabulary. Built once per
// tick from that tick's readings; for an agent task it also names the agent
// and says whether that agent is gone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/measure/norvo_config.hpp"
#include "core/measure/process_table.hpp"

namespace norvo {

class Classifier {
 public:
  struct Result {
    ProcessCategory category = ProcessCategory::system;
    std::optional<int32_t> agentPid;  // only for agent tasks
    bool orphaned = false;

    friend bool operator==(const Result&, const Result&) = default;
  };

  // A classifier for this tick, seen from `callerPid` running as user `me`.
  // It refers to `readings`, which must outlive it: the tick's readings are
  // thousands of processes, too many to copy once per tick.
  Classifier(NorvoConfig config, const ProcessReadings& readings, int32_t callerPid, uint32_t me);
  Classifier(NorvoConfig, ProcessReadings&&, int32_t, uint32_t) = delete;

  // The category of `reading`; `rememberedAgent` is the agent its process key
  // had in earlier ticks.
  Result classify(const ProcessReading& reading, std::optional<int32_t> rememberedAgent) const;

  // The reading is an agent command-line tool.
  bool isAgent(const ProcessReading& reading) const;
  // The reading belongs to one of the configured AI apps.
  bool isAIApp(const ProcessReading& reading) const;
  // The nearest agent above the reading (the reading itself not examined).
  std::optional<int32_t> agentAncestor(const ProcessReading& reading) const;

  const std::vector<int32_t>& selfChain() const { return selfChain_; }
  std::optional<int32_t> myAgent() const { return myAgent_; }
  const ProcessReadings& readings() const { return readings_; }

  // "node", "bun", "deno", "python", "python3", "Python" and any name that
  // begins with "python".
  static bool isScriptInterpreter(std::string_view name);

  // The reasoning for one process as multi-line text, or "no such pid".
  std::string explanation(int32_t pid) const;

  // Reads every process within 2 seconds, loads the configuration and
  // explains `pid` as seen from the calling process.
  static std::string explain(int32_t pid);

 private:
  bool isAgentCommand(std::string_view name) const;
  bool appNameMatches(const std::string& bundle) const;
  bool isReparented(const ProcessReading& reading, int32_t rememberedAgent) const;

  NorvoConfig config_;
  const ProcessReadings& readings_;
  uint32_t me_ = 0;
  std::vector<int32_t> selfChain_;
  std::unordered_set<int32_t> selfSet_;
  std::optional<int32_t> myAgent_;
  std::unordered_set<int32_t> agents_;
  std::unordered_set<std::string> commands_;
  std::unordered_set<std::string> apps_;
};

}  // namespace norvo
