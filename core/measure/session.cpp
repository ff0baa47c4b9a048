#include "core/measure/session.hpp"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/measure/classifier.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"

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
  auto lineage = record_file::read<Lineage>(lineageFile, record_file::Links::refuse);
  if (!lineage) return std::nullopt;
  auto remembered = lineage->find(key);
  if (remembered == lineage->end()) return std::nullopt;
  return remembered->second;
}

std::filesystem::path lineageFile() { return NorvoStore::directory() / "lineage.json"; }

namespace {

// The calling process and its ancestors, read completely. Only the chain
// decides the agent, and reading it costs a handful of processes where the
// whole table costs thousands, which matters for the hook that Claude Code
// runs before every command. The reads run on a thread of their own, so that
// an ancestor stuck in the kernel costs the deadline and nothing more.
std::optional<ProcessReadings> chainReadings(int32_t selfPid, std::chrono::milliseconds deadline) {
  struct Box {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<ProcessReadings> readings;
  };
  auto box = std::make_shared<Box>();
  std::thread([box, selfPid] {
    ProcessReadings readings;
    try {
      auto& table = ProcessTable::shared();
      for (int32_t pid = selfPid; pid >= 1 && !readings.count(pid);) {
        auto reading = table.read(pid);
        if (!reading) break;
        pid = reading->ppid;
        readings.emplace(reading->pid, std::move(*reading));
      }
    } catch (const std::exception&) {
      // What was read so far still names the agent if it is among it.
    }
    std::lock_guard lock(box->mutex);
    box->readings = std::move(readings);
    box->done.notify_all();
  }).detach();
  std::unique_lock lock(box->mutex);
  box->done.wait_for(lock, deadline, [&] { return box->readings.has_value(); });
  return std::move(box->readings);
}

}  // namespace

const std::optional<int32_t>& myAgent() {
  static const std::optional<int32_t> agent = [] {
    try {
      auto self = static_cast<int32_t>(getpid());
      auto readings = chainReadings(self, std::chrono::seconds(2));
      if (!readings) return std::optional<int32_t>{};
      return agentFor(self, static_cast<uint32_t>(getuid()), *readings, NorvoConfig::load(),
                      lineageFile());
    } catch (const std::exception&) {
      // Not knowing the agent only makes every task read as another session's.
      return std::optional<int32_t>{};
    }
  }();
  return agent;
}

}  // namespace norvo::Session
