// An in-memory process list for the process table's tests: processes can be
// added and removed between reads, calls are counted, and the detail read of
// chosen pids blocks until the test releases it.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "core/platform/process_source.hpp"

namespace norvo::test {

class FakeProcessSource : public platform::ProcessSource {
 public:
  struct Process {
    platform::ProcessBasics basics;
    platform::ProcessCommandLine commandLine;
    platform::ProcessUsage usage;
  };

  ~FakeProcessSource() override { release(); }

  void add(int32_t pid, uint64_t startTime, std::string name, uint32_t uid = 1000,
           int32_t ppid = 1) {
    std::lock_guard lock(mutex_);
    Process p;
    p.basics = {pid, ppid, uid, name, startTime, 'S', std::nullopt, {}};
    p.commandLine = {"/opt/" + name, "/opt/" + name + " --flag", std::nullopt, {}};
    p.usage = {uint64_t(pid) * 1000, uint64_t(pid) * 4096};
    processes_[pid] = p;
  }
  // Makes the cheap record carry CPU time, as /proc/<pid>/stat does.
  void setUsage(int32_t pid, uint64_t cpuNanos, uint64_t footprintBytes) {
    std::lock_guard lock(mutex_);
    auto& p = processes_.at(pid);
    p.basics.cpuNanos = cpuNanos;
    p.usage = {cpuNanos, footprintBytes};
  }
  void setState(int32_t pid, char state) {
    std::lock_guard lock(mutex_);
    processes_.at(pid).basics.state = state;
  }
  void remove(int32_t pid) {
    std::lock_guard lock(mutex_);
    processes_.erase(pid);
  }
  void block(int32_t pid) {
    std::lock_guard lock(mutex_);
    blocking_.insert(pid);
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }
  int commandLineCalls(int32_t pid) const {
    std::lock_guard lock(mutex_);
    auto it = commandLineCalls_.find(pid);
    return it == commandLineCalls_.end() ? 0 : it->second;
  }
  int usageCalls(int32_t pid) const {
    std::lock_guard lock(mutex_);
    auto it = usageCalls_.find(pid);
    return it == usageCalls_.end() ? 0 : it->second;
  }

  std::vector<int32_t> allPids() const override {
    std::lock_guard lock(mutex_);
    std::vector<int32_t> pids;
    for (const auto& [pid, p] : processes_) pids.push_back(pid);
    return pids;
  }
  std::optional<platform::ProcessBasics> basics(int32_t pid) const override {
    std::lock_guard lock(mutex_);
    auto it = processes_.find(pid);
    if (it == processes_.end()) return std::nullopt;
    return it->second.basics;
  }
  platform::ProcessCommandLine commandLine(int32_t pid) const override {
    std::unique_lock lock(mutex_);
    ++commandLineCalls_[pid];
    if (blocking_.count(pid)) wake_.wait(lock, [&] { return released_; });
    auto it = processes_.find(pid);
    return it == processes_.end() ? platform::ProcessCommandLine{} : it->second.commandLine;
  }
  platform::ProcessUsage usage(int32_t pid, std::optional<uint64_t>) const override {
    std::lock_guard lock(mutex_);
    ++usageCalls_[pid];
    auto it = processes_.find(pid);
    return it == processes_.end() ? platform::ProcessUsage{} : it->second.usage;
  }
  std::optional<int32_t> responsiblePid(int32_t) const override { return std::nullopt; }
  std::optional<std::string> bundleIdentifier(const std::string&) const override {
    return std::nullopt;
  }
  uint32_t currentUid() const override { return 1000; }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable wake_;
  std::map<int32_t, Process> processes_;
  std::set<int32_t> blocking_;
  bool released_ = false;
  mutable std::map<int32_t, int> commandLineCalls_;
  mutable std::map<int32_t, int> usageCalls_;
};

}  // namespace norvo::test
