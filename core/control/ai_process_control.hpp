// How an agent (or the owner) stops AI work: only agent tasks, and for an
// agent only those of its own session or whose agent has exited. Everything
// else is refused with a sentence that tells the agent what to do instead.
// Each signal sent is written to the actions log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/measure/norvo_config.hpp"
#include "core/measure/process_table.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

struct StopResult {
  bool ok = false;  // false for refusals and unknown pids; true once signals went out
  std::string message;
  std::vector<int32_t> stopped;       // signalled and gone by the end of the wait
  std::vector<int32_t> stillRunning;  // signalled and alive; for a refusal, the refused pid

  friend bool operator==(const StopResult&, const StopResult&) = default;
};

void to_json(nlohmann::json& j, const StopResult& r);
void from_json(const nlohmann::json& j, StopResult& r);

struct AIProcessControl {
  // What stop works against: the process table it reads (its source also
  // gives the start times checked before signalling), the store holding
  // "lineage.json" and the actions log, and the pid of the agent server, whose
  // own process chain is never stopped.
  struct Environment {
    ProcessTable& table;
    std::filesystem::path storeDirectory;
    int32_t serverPid = 0;

    // The shared table, the store directory and the calling process.
    static Environment system();
  };

  // Stops `pid` (and, with `includeChildren`, its descendants that may be
  // stopped, deepest first) with SIGTERM, or SIGKILL when `force`, then waits
  // up to 3 seconds (1 with force) for them to exit. `byAgent` is the calling
  // agent's pid, absent when the owner acts. Never throws.
  static StopResult stop(int32_t pid, bool force, bool includeChildren, const std::string& reason,
                         std::optional<int32_t> byAgent, const NorvoConfig& config);
  static StopResult stop(int32_t pid, bool force, bool includeChildren, const std::string& reason,
                         std::optional<int32_t> byAgent, const NorvoConfig& config,
                         const Environment& environment);

  // The text after "Refused to stop NAME (pid N): " for a target of
  // `category`; absent for an agent task, which is not refused by kind.
  static std::optional<std::string> refusalByKind(ProcessCategory category);

  // Whether an agent task belonging to `agentPid` (orphaned or not) is outside
  // the session of `byAgent`. The owner (no `byAgent`) is never refused.
  static bool otherSession(std::optional<int32_t> byAgent, std::optional<int32_t> agentPid,
                           bool orphaned);

  // The result sentence after signalling.
  static std::string resultMessage(bool force, size_t signalled,
                                   const std::vector<int32_t>& stopped,
                                   const std::vector<int32_t>& stillRunning,
                                   const std::vector<int32_t>& notSignalled);
};

}  // namespace norvo
