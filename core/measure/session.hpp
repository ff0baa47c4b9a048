// Which AI agent the calling process runs under, so that the digest can tell
// an agent which processes are its own. The answer comes from the chain of
// ancestors and, for a process whose agent is no longer among them, from the
// lineage file that the sampling loop keeps ("lineage.json": process key →
// agent pid).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "core/measure/norvo_config.hpp"
#include "core/measure/process_sample.hpp"

namespace norvo::Session {

// The agent of the process `selfPid`: the first process on its chain of
// ancestors (itself first) that is an agent command-line tool; when the chain
// holds none, the agent that the lineage file at `lineageFile` remembers for
// the process's key. Absent when neither knows, or when `selfPid` is not among
// the readings. A missing or corrupt lineage file counts as empty.
std::optional<int32_t> agentFor(int32_t selfPid, const std::map<int32_t, ProcessReading>& readings,
                                const NorvoConfig& config,
                                const std::filesystem::path& lineageFile);

// `agentFor` the calling process with its real ancestry, the owner's
// configuration and the store's lineage file; computed on first use,
// thread-safely, and fixed for the life of the process.
const std::optional<int32_t>& myAgent();

// "lineage.json" in the store directory.
std::filesystem::path lineageFile();

}  // namespace norvo::Session
