#include "core/measure/session.hpp"

#include <unistd.h>

#include <chrono>
#include <map>
#include <string>

#include "core/measure/classifier.hpp"
#include "core/store/record_file.hpp"
#include "core/store/store_directory.hpp"

namespace norvo::Session {

std::optional<int32_t> agentFor(int32_t selfPid, uint32_t uid, const ProcessReadings& readings,
                                const NorvoConfig& config,
                                const std::filesystem::path& lineageFile) {
  auto self = readings.find(selfPid);
  if (self == readings.end()) return std::nullopt;
  auto key = self->second.key();

  Classifier classifier(config, readings, selfPid, uid);
  if (auto agent = classifier.myAgent()) return agent;

  // The agent that started us may have exited, leaving init or a subreaper as
  // our parent; the sampling loop remembered it under our key.
  auto lineage = record_file::read<std::map<std::string, int32_t>>(lineageFile);
  if (!lineage) return std::nullopt;
  auto remembered = lineage->find(key);
  if (remembered == lineage->end()) return std::nullopt;
  return remembered->second;
}

std::filesystem::path lineageFile() { return NorvoStore::directory() / "lineage.json"; }

const std::optional<int32_t>& myAgent() {
  static const std::optional<int32_t> agent = [] {
    try {
      auto readings = ProcessTable::shared().read(std::chrono::duration<double>(2.0));
      return agentFor(static_cast<int32_t>(getpid()), static_cast<uint32_t>(getuid()), readings,
                      NorvoConfig::load(), lineageFile());
    } catch (...) {
      // Not knowing the agent only makes every task read as another session's.
      return std::optional<int32_t>{};
    }
  }();
  return agent;
}

}  // namespace norvo::Session
