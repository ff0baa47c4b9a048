#include "core/measure/session.hpp"

#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

#include "core/platform/process_chain.hpp"
#include "core/platform/roots.hpp"
#include "core/store/record_file.hpp"
#include "core/store/store_directory.hpp"

namespace norvo::Session {

namespace {

bool isInterpreter(const std::string& name) {
  static const std::set<std::string> fixed = {"node", "bun", "deno", "python", "python3", "Python"};
  return fixed.count(name) > 0 || name.rfind("python", 0) == 0;
}

// An agent command-line tool: a configured command name, or a script
// interpreter whose command line carries one of the agents' package markers.
bool isAgent(const ProcessReading& r, const NorvoConfig& config) {
  const auto& commands = config.agentCommands;
  if (std::find(commands.begin(), commands.end(), r.name) != commands.end()) return true;
  if (!isInterpreter(r.name)) return false;
  return std::any_of(
      config.agentArgumentMarkers.begin(), config.agentArgumentMarkers.end(),
      [&](const std::string& marker) { return r.arguments.find(marker) != std::string::npos; });
}

}  // namespace

std::optional<int32_t> agentFor(int32_t selfPid, const std::map<int32_t, ProcessReading>& readings,
                                const NorvoConfig& config,
                                const std::filesystem::path& lineageFile) {
  auto self = readings.find(selfPid);
  if (self == readings.end()) return std::nullopt;

  std::set<int32_t> seen;
  for (int32_t pid = selfPid; pid >= 2 && seen.insert(pid).second;) {
    auto it = readings.find(pid);
    if (it == readings.end()) break;
    if (isAgent(it->second, config)) return pid;
    pid = it->second.ppid;
  }

  // The agent that started us may have exited, leaving us with init or a
  // subreaper as parent; the sampling loop remembered it under our key.
  auto lineage = record_file::read<std::map<std::string, int32_t>>(lineageFile);
  if (!lineage) return std::nullopt;
  auto remembered = lineage->find(self->second.key());
  if (remembered == lineage->end()) return std::nullopt;
  return remembered->second;
}

std::filesystem::path lineageFile() { return NorvoStore::directory() / "lineage.json"; }

const std::optional<int32_t>& myAgent() {
  static const std::optional<int32_t> agent = [] {
    try {
      auto self = static_cast<int32_t>(getpid());
      auto chain = platform::process_chain::read(self, platform::Roots::system());
      return agentFor(self, chain, NorvoConfig::load(), lineageFile());
    } catch (...) {
      // Not knowing the agent only makes every task read as another session's.
      return std::optional<int32_t>{};
    }
  }();
  return agent;
}

}  // namespace norvo::Session
