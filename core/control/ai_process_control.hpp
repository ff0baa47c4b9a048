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

// Who asks for a stop. The owner may stop any AI task; an agent only the tasks
// of its own session and orphaned ones. An agent whose own pid is unknown (an
// agent server that found no agent among its ancestors) has no session, so it
// may stop orphaned tasks only: it never acts as the owner.
struct StopCaller {
  bool owner = true;
  std::optional<int32_t> agentPid;

  // An agent pid, or absent for the owner: the form every caller had before
  // an agent without a pid could ask.
  StopCaller(std::optional<int32_t> byAgent) : owner(!byAgent), agentPid(byAgent) {}  // NOLINT

  static StopCaller agent(std::optional<int32_t> pid) {
    StopCaller caller(pid);
    caller.owner = false;
    return caller;
  }
};

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
  // up to 3 seconds (1 with force) for them to exit. `by` is the owner or the
  // calling agent; each signal is logged with actor "owner" or "ai". Never throws.
  static StopResult stop(int32_t pid, bool force, bool includeChildren, const std::string& reason,
                         const StopCaller& by, const NorvoConfig& config);
  static StopResult stop(int32_t pid, bool force, bool includeChildren, const std::string& reason,
                         const StopCaller& by, const NorvoConfig& config,
                         const Environment& environment);

  // The text after "Refused to stop NAME (pid N): " for a target of
  // `category`; absent for an agent task, which is not refused by kind.
  static std::optional<std::string> refusalByKind(ProcessCategory category);

  // Whether an agent task belonging to `agentPid` (orphaned or not) is outside
  // the session of `by`. The owner is never refused; an agent without a pid
  // is refused everything but orphans.
  static bool otherSession(const StopCaller& by, std::optional<int32_t> agentPid, bool orphaned);

  // The result sentence after signalling.
  static std::string resultMessage(bool force, size_t signalled,
                                   const std::vector<int32_t>& stopped,
                                   const std::vector<int32_t>& stillRunning,
                                   const std::vector<int32_t>& notSignalled);
};

}  // namespace norvo
