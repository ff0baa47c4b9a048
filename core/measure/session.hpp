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
#include <string>

#include "core/measure/norvo_config.hpp"
#include "core/measure/process_table.hpp"

namespace norvo {

// Process key → pid of the agent that started the process.
using Lineage = std::map<std::string, int32_t>;

}  // namespace norvo

namespace norvo::Session {

// The agent of the process `selfPid` (running as user `uid`): the classifier's
// agent among its ancestors, itself included; when there is none, the agent
// that the lineage file at `lineageFile` remembers for the process's key.
// Absent when neither knows or when `selfPid` is not among the readings. A
// missing or corrupt lineage file counts as empty.
std::optional<int32_t> agentFor(int32_t selfPid, uint32_t uid, const ProcessReadings& readings,
                                const NorvoConfig& config,
                                const std::filesystem::path& lineageFile);

// `agentFor` the calling process, from its chain of ancestors read within 2
// seconds (nothing when the chain does not come back in time), the owner's
// configuration and the store's lineage file; computed on first use,
// thread-safely, and fixed for the life of the process.
const std::optional<int32_t>& myAgent();

// "lineage.json" in the store directory.
std::filesystem::path lineageFile();

}  // namespace norvo::Session
