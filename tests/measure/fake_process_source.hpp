// An in-memory process list for the process table's tests: processes can be
// added, changed and removed between reads, detail reads are counted, and the
// detail read of chosen pids blocks until the test releases it.
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
  struct Calls {
    int commandLine = 0, usage = 0;
  };

  ~FakeProcessSource() override { release(); }

  // Bigger pids get more CPU time and memory, so that weight order is known.
  void add(int32_t pid, uint64_t startTime, std::string name, uint32_t uid = 1000,
           int32_t ppid = 1) {
    change(pid, [&](Process& p) {
      p.basics = {pid, ppid, uid, name, startTime, 'S', std::nullopt, {}};
      p.commandLine = {"/opt/" + name, "/opt/" + name + " --flag", std::nullopt, {}};
      p.usage = {uint64_t(pid) * 1000, uint64_t(pid) * 4096};
    });
  }
  // Changes a process under the lock; `how` takes a Process&.
  template <typename F>
  void change(int32_t pid, F how) {
    std::lock_guard lock(mutex_);
    how(processes_[pid]);
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
  Calls calls(int32_t pid) const {
    std::lock_guard lock(mutex_);
    return calls_.count(pid) ? calls_.at(pid) : Calls{};
  }

  std::vector<int32_t> allPids() const override {
    std::lock_guard lock(mutex_);
    std::vector<int32_t> pids;
    for (const auto& [pid, p] : processes_) pids.push_back(pid);
    return pids;
  }
  std::optional<platform::ProcessBasics> basics(int32_t pid) const override {
    std::lock_guard lock(mutex_);
    return processes_.count(pid) ? std::optional(processes_.at(pid).basics) : std::nullopt;
  }
  platform::ProcessCommandLine commandLine(int32_t pid) const override {
    std::unique_lock lock(mutex_);
    ++calls_[pid].commandLine;
    if (blocking_.count(pid)) wake_.wait(lock, [&] { return released_; });
    return processes_.count(pid) ? processes_.at(pid).commandLine : platform::ProcessCommandLine{};
  }
  platform::ProcessUsage usage(int32_t pid, std::optional<uint64_t>) const override {
    std::lock_guard lock(mutex_);
    ++calls_[pid].usage;
    return processes_.count(pid) ? processes_.at(pid).usage : platform::ProcessUsage{};
  }
  std::optional<int32_t> responsiblePid(int32_t) const override { return std::nullopt; }
  std::optional<std::string> bundleIdentifier(const std::string&) const override { return {}; }
  uint32_t currentUid() const override { return 1000; }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable wake_;
  std::map<int32_t, Process> processes_;
  std::set<int32_t> blocking_;
  bool released_ = false;
  mutable std::map<int32_t, Calls> calls_;
};

}  // namespace norvo::test
