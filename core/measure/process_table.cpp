#include "core/measure/process_table.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>

#include "core/platform/platform_words.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"

namespace norvo {

using NorvoStore::HungMark;
using Seconds = std::chrono::duration<double>;

namespace {

constexpr size_t chunkSize = 48;
constexpr double hungAfterSeconds = 5;
constexpr double retryAfterSeconds = 120;
constexpr double markLifetimeSeconds = 1800;
constexpr double rewriteAfterSeconds = 60;
// How long the memory of a process whose CPU time has not moved is taken as
// unchanged. Without running, a process can neither grow nor shrink its own
// memory (swapping moves it between the two counted kinds); the limit covers
// runs too short to show in the clock-tick CPU time.
constexpr double idleMemoryMaxAge = 30;

double secondsBetween(Date earlier, Date later) {
  return std::chrono::duration_cast<Seconds>(later - earlier).count();
}

// A persistent pool of detached threads. Detached, because a work item may
// block in the kernel for good and must never hold up whoever releases the
// pool; the threads share the queue through a shared pointer and leave once
// the pool is gone and their current item is done. A thread busy with one item
// for more than a second counts as stuck, and a replacement is started so that
// stuck reads cannot starve later ticks (up to a fixed cap).
class WorkerPool {
 public:
  explicit WorkerPool(std::string name) : core_(std::make_shared<Core>()) {
    core_->name = std::move(name);
    unsigned cores = std::thread::hardware_concurrency();
    core_->target = std::clamp<size_t>(cores, 2, 8);
  }
  ~WorkerPool() {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
    core_->queue.clear();
    core_->wake.notify_all();
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void submit(std::function<void()> item) {
    std::lock_guard lock(core_->mutex);
    core_->queue.push_back(std::move(item));
    auto now = std::chrono::steady_clock::now();
    size_t stuck = 0;
    for (const auto& since : core_->busySince)
      if (since && now - *since > std::chrono::seconds(1)) ++stuck;
    while (core_->busySince.size() - stuck < core_->target &&
           core_->busySince.size() < maxThreads) {
      core_->busySince.emplace_back();
      size_t index = core_->busySince.size() - 1;
      try {
        std::thread([core = core_, index] { run(core, index); }).detach();
      } catch (const std::system_error&) {
        core_->busySince.pop_back();
        break;
      }
    }
    core_->wake.notify_one();
  }

 private:
  static constexpr size_t maxThreads = 64;

  struct Core {
    std::string name;
    size_t target = 2;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    std::vector<std::optional<std::chrono::steady_clock::time_point>> busySince;
    bool stopping = false;
  };

  static void run(std::shared_ptr<Core> core, size_t index) {
    // Thread names are limited to 15 characters; the start of the pool's name
    // is what tools such as top show.
    ::pthread_setname_np(::pthread_self(), core->name.substr(0, 15).c_str());
    std::unique_lock lock(core->mutex);
    for (;;) {
      core->wake.wait(lock, [&] { return core->stopping || !core->queue.empty(); });
      if (core->stopping) return;
      auto item = std::move(core->queue.front());
      core->queue.pop_front();
      core->busySince[index] = std::chrono::steady_clock::now();
      lock.unlock();
      try {
        item();
      } catch (...) {
        // A detached thread must not let an exception end the program; the
        // item's own reads already count what did not come back.
      }
      item = nullptr;  // drop what the item holds before waiting again
      lock.lock();
      core->busySince[index].reset();
    }
  }

  std::shared_ptr<Core> core_;
};

struct CachedCommandLine {
  // The kernel's name of the process when its command line was read: exec
  // changes it, and with it the program, while the key stays the same.
  std::string command;
  std::string path;
  std::string executable;
  std::string arguments;
  std::optional<int32_t> responsiblePid;
  std::optional<std::string> appEntry;
  // The last usage read: the CPU time it went with and when it was taken.
  std::optional<uint64_t> cpuNanos;
  std::optional<uint64_t> footprintBytes;
  std::optional<Date> usageReadAt;
};

// The results of one read(deadline) call. Work items hold it by shared
// pointer, so those still running after the call returns write into a box
// nobody reads any more rather than into freed memory.
struct Box {
  std::mutex mutex;
  std::condition_variable done;
  size_t pending = 0;
  std::unordered_map<int32_t, ProcessTable::Details> details;
  std::unordered_set<std::string> finished;
};

struct Candidate {
  int32_t pid;
  uint32_t uid;
  std::string key;
  std::string name;
  std::optional<uint64_t> cheapCpuNanos;
};

ProcessReading fromBasics(const platform::ProcessBasics& b) {
  ProcessReading r;
  r.pid = b.pid;
  r.ppid = b.ppid;
  r.uid = b.uid;
  r.name = b.command;
  r.command = b.command;
  r.startTime = b.startTime;
  r.bootId = b.bootId;
  r.responsiblePid = b.pid;
  r.state = b.state;
  return r;
}

std::string lastComponent(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void complete(ProcessReading& r, ProcessTable::Details d) {
  r.path = std::move(d.path);
  r.executable = std::move(d.executable);
  r.arguments = std::move(d.arguments);
  if (!r.path.empty()) r.name = lastComponent(r.path);
  r.cpuNanos = d.cpuNanos;
  r.footprintBytes = d.footprintBytes;
  r.responsiblePid = d.responsiblePid.value_or(r.pid);
  r.appEntry = std::move(d.appEntry);
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

struct ProcessTable::State {
  explicit State(std::shared_ptr<const platform::ProcessSource> s)
      : source(std::move(s)), pool("norvo.process-details") {}

  // Command lines by process key: read once per process and again only after
  // an exec (a forked child seen before its exec would otherwise keep its
  // parent's program, a compiler named after the shell that started it). The
  // memory of a process that has not run since the last read is carried over
  // (see idleMemoryMaxAge); usage is read only where the cheap record carries
  // CPU time to tell.
  Details readDetails(int32_t pid, uint32_t uid, const std::string* key, const std::string& command,
                      std::optional<uint64_t> cheapCpuNanos, Date now) {
    Details d;
    bool cached = false;
    if (key) {
      std::lock_guard lock(cacheLock);
      if (auto it = cache.find(*key); it != cache.end() && it->second.command == command) {
        const auto& entry = it->second;
        d.path = entry.path;
        d.executable = entry.executable;
        d.arguments = entry.arguments;
        d.responsiblePid = entry.responsiblePid;
        d.appEntry = entry.appEntry;
        cached = true;
        if (cheapCpuNanos && entry.cpuNanos == cheapCpuNanos && entry.footprintBytes &&
            entry.usageReadAt && secondsBetween(*entry.usageReadAt, now) < idleMemoryMaxAge &&
            secondsBetween(*entry.usageReadAt, now) >= 0) {
          d.cpuNanos = cheapCpuNanos;
          d.footprintBytes = entry.footprintBytes;
          return d;
        }
      }
    }
    if (!cached) {
      // Other users' command lines are theirs: only the cheap facts are kept.
      if (uid == source->currentUid()) {
        auto line = source->commandLine(pid);
        d.path = std::move(line.path);
        d.executable = std::move(line.executable);
        d.arguments = std::move(line.arguments);
        d.appEntry = std::move(line.appEntry);
      }
      d.responsiblePid = source->responsiblePid(pid);
    }
    auto usage = source->usage(pid, cheapCpuNanos);
    d.cpuNanos = usage.cpuNanos;
    d.footprintBytes = usage.footprintBytes;
    if (key) {
      std::lock_guard lock(cacheLock);
      auto& entry = cache[*key];
      if (!cached) {
        entry.command = command;
        entry.path = d.path;
        entry.executable = d.executable;
        entry.arguments = d.arguments;
        entry.responsiblePid = d.responsiblePid;
        entry.appEntry = d.appEntry;
      }
      entry.cpuNanos = d.cpuNanos;
      entry.footprintBytes = d.footprintBytes;
      entry.usageReadAt = now;
    }
    return d;
  }

  std::shared_ptr<const platform::ProcessSource> source;

  std::mutex cacheLock;
  std::unordered_map<std::string, CachedCommandLine> cache;

  std::mutex inFlightLock;
  std::unordered_map<std::string, HungMark> inFlight;
  std::map<std::string, std::string> hung;
  std::optional<Date> lastHungWrite;

  std::atomic<bool> retryHung{false};

  // Last member: destroyed first, so that no new thread starts on a state
  // that is going away.
  WorkerPool pool;
};

ProcessTable::ProcessTable(std::shared_ptr<const platform::ProcessSource> source,
                           std::filesystem::path storeDirectory, Clock now)
    : shared_(std::make_shared<State>(std::move(source))),
      hungFile_(std::move(storeDirectory) / "hung-v2.json"),
      now_(std::move(now)) {}

ProcessTable::~ProcessTable() = default;

ProcessTable& ProcessTable::shared() {
  // Never destroyed: work items may still run while the process exits.
  static ProcessTable* table = new ProcessTable(
      platform::makeProcessSource(platform::Roots::system()), NorvoStore::directory());
  return *table;
}

const platform::ProcessSource& ProcessTable::source() const { return *shared_->source; }

std::optional<platform::PinnedProcess> ProcessTable::pin(const ProcessReading& reading) const {
  auto sameProcess = [&] {
    auto now = shared_->source->basics(reading.pid);
    return now && now->startTime == reading.startTime;
  };
  if (!sameProcess()) return std::nullopt;
  auto pinned = platform::PinnedProcess::pin(reading.pid);
  if (!pinned || !sameProcess()) return std::nullopt;
  return pinned;
}

std::vector<int32_t> ProcessTable::allPids() const { return shared_->source->allPids(); }

std::optional<ProcessReading> ProcessTable::basic(int32_t pid) const {
  auto b = shared_->source->basics(pid);
  if (!b) return std::nullopt;
  return fromBasics(*b);
}

std::optional<ProcessReading> ProcessTable::read(int32_t pid) const {
  auto b = shared_->source->basics(pid);
  if (!b) return std::nullopt;
  auto reading = fromBasics(*b);
  complete(reading,
           shared_->readDetails(pid, reading.uid, nullptr, b->command, b->cpuNanos, now_()));
  return reading;
}

ProcessReadings ProcessTable::read(std::chrono::duration<double> deadline) {
  double deadlineSeconds = deadline.count();
  auto& state = *shared_;
  auto waitUntil = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(
                       std::isfinite(deadlineSeconds) ? std::max(deadlineSeconds, 0.0) : 0));

  // 1. The cheap pass.
  ProcessReadings readings;
  std::unordered_set<std::string> live;
  std::unordered_map<int32_t, uint64_t> cheapCpu;
  for (int32_t pid : state.source->allPids()) {
    auto b = state.source->basics(pid);
    if (!b) continue;
    auto reading = fromBasics(*b);
    live.insert(reading.key());
    readings.emplace(pid, std::move(reading));
    if (b->cpuNanos) cheapCpu.emplace(pid, *b->cpuNanos);
  }

  // 2. Marks of live processes younger than their lifetime.
  Date now = now_();
  auto stored =
      record_file::read<std::map<std::string, HungMark>>(hungFile_, record_file::Links::refuse);
  std::map<std::string, HungMark> kept;
  if (stored) {
    for (auto& [key, mark] : *stored)
      if (live.count(key) && secondsBetween(mark.since, now) < markLifetimeSeconds)
        kept.emplace(key, mark);
  }

  // 3. What not to read this time.
  std::unordered_set<std::string> skip;
  {
    std::lock_guard lock(state.inFlightLock);
    for (const auto& [key, mark] : state.inFlight) skip.insert(key);
  }
  bool retry = state.retryHung.load();
  for (const auto& [key, mark] : kept)
    if (!retry || secondsBetween(mark.since, now) < retryAfterSeconds) skip.insert(key);

  // 4. Forget the command lines of processes that are gone.
  {
    std::lock_guard lock(state.cacheLock);
    for (auto it = state.cache.begin(); it != state.cache.end();)
      it = live.count(it->first) ? std::next(it) : state.cache.erase(it);
  }

  // 5.-6. Chunks of candidates on the workers.
  std::vector<Candidate> candidates;
  for (const auto& [pid, reading] : readings) {
    auto key = reading.key();
    if (skip.count(key)) continue;
    auto cpu = cheapCpu.find(pid);
    candidates.push_back({pid, reading.uid, std::move(key), reading.name,
                          cpu == cheapCpu.end() ? std::nullopt : std::optional(cpu->second)});
  }
  auto box = std::make_shared<Box>();
  size_t chunks = (candidates.size() + chunkSize - 1) / chunkSize;
  box->pending = chunks;
  for (size_t c = 0; c < chunks; ++c) {
    auto begin = candidates.begin() + static_cast<ptrdiff_t>(c * chunkSize);
    auto end = candidates.begin() +
               static_cast<ptrdiff_t>(std::min((c + 1) * chunkSize, candidates.size()));
    std::vector<Candidate> chunk(std::make_move_iterator(begin), std::make_move_iterator(end));
    state.pool.submit([shared = shared_, box, chunk = std::move(chunk), now = now_] {
      // However a read fails, the chunk still counts itself done below, so
      // the caller is never kept waiting to its deadline.
      for (const auto& candidate : chunk) try {
          Date started = now();
          {
            std::lock_guard lock(shared->inFlightLock);
            shared->inFlight[candidate.key] = HungMark{candidate.name, started};
          }
          auto details = shared->readDetails(candidate.pid, candidate.uid, &candidate.key,
                                             candidate.name, candidate.cheapCpuNanos, started);
          {
            std::lock_guard lock(shared->inFlightLock);
            shared->inFlight.erase(candidate.key);
          }
          std::lock_guard lock(box->mutex);
          box->details[candidate.pid] = std::move(details);
          box->finished.insert(candidate.key);
        } catch (...) {
          std::lock_guard lock(shared->inFlightLock);
          shared->inFlight.erase(candidate.key);
        }
      std::lock_guard lock(box->mutex);
      if (--box->pending == 0) box->done.notify_all();
    });
  }

  // 7.-8. Wait for the deadline, then take what came back.
  std::unordered_map<int32_t, Details> details;
  std::unordered_set<std::string> finished;
  {
    std::unique_lock lock(box->mutex);
    box->done.wait_until(lock, waitUntil, [&] { return box->pending == 0; });
    // Items still running after the deadline write into the emptied box.
    details = std::move(box->details);
    finished = std::move(box->finished);
  }
  now = now_();
  std::map<std::string, HungMark> newlyHung;
  {
    std::lock_guard lock(state.inFlightLock);
    for (const auto& [key, mark] : state.inFlight)
      if (secondsBetween(mark.since, now) >= hungAfterSeconds) newlyHung.emplace(key, mark);
  }

  // 9.-11. The new marks, written when they changed.
  auto marks = kept;
  for (const auto& key : finished) marks.erase(key);
  for (const auto& [key, mark] : newlyHung) marks[key] = mark;
  bool sameKeys = marks.size() == kept.size() &&
                  std::equal(marks.begin(), marks.end(), kept.begin(),
                             [](const auto& a, const auto& b) { return a.first == b.first; });
  bool write = !sameKeys;
  if (sameKeys && !newlyHung.empty()) {
    std::lock_guard lock(state.inFlightLock);
    write = !state.lastHungWrite || secondsBetween(*state.lastHungWrite, now) > rewriteAfterSeconds;
  }
  if (write) {
    record_file::write(marks, hungFile_);
    std::lock_guard lock(state.inFlightLock);
    state.lastHungWrite = now;
  }
  {
    std::map<std::string, std::string> names;
    for (const auto& [key, mark] : marks) names.emplace(key, mark.name);
    std::lock_guard lock(state.inFlightLock);
    state.hung = std::move(names);
  }

  // 12. Complete the readings whose details came back.
  for (auto& [pid, d] : details) {
    auto it = readings.find(pid);
    if (it != readings.end()) complete(it->second, std::move(d));
  }
  return readings;
}

std::map<std::string, std::string> ProcessTable::hung() const {
  std::lock_guard lock(shared_->inFlightLock);
  return shared_->hung;
}

bool ProcessTable::retryHung() const { return shared_->retryHung.load(); }
void ProcessTable::setRetryHung(bool retry) { shared_->retryHung.store(retry); }

std::optional<std::string> ProcessTable::outermostBundle(const std::string& path) {
  if (auto at = path.find(".app/"); at != std::string::npos) return path.substr(0, at + 4);
  if (std::string_view(path).ends_with(".app")) return path;
  return std::nullopt;
}

std::optional<std::string> ProcessTable::owningBundle(const ProcessReading& reading,
                                                      const ProcessReadings& readings) {
  // The emulator's processes (a launcher and its qemu) make one app, which
  // neither a bundle nor a desktop unit would tell.
  if (auto emulator = platform::emulatorFolder(reading.path)) return emulator;
  const ProcessReading* owner = &reading;
  if (auto it = readings.find(reading.responsiblePid); it != readings.end()) owner = &it->second;
  for (const std::string* candidate :
       {&owner->path, &owner->arguments, &reading.path, &reading.arguments}) {
    if (!startsWith(*candidate, "/")) continue;
    if (auto bundle = outermostBundle(*candidate)) return bundle;
  }
  // Linux programs live in shared folders rather than bundles; the app unit
  // the desktop started them in says which app they belong to.
  if (owner->appEntry) return owner->appEntry;
  return reading.appEntry;
}

double ProcessTable::roundToTenth(double value) { return std::round(value * 10) / 10; }

double ProcessTable::cpuPercent(const ProcessReading& current, const ProcessReading* previous,
                                double elapsedSeconds) {
  if (!(elapsedSeconds > 0) || !current.cpuNanos || !previous || previous->pid != current.pid ||
      previous->startTime != current.startTime || !previous->cpuNanos ||
      *current.cpuNanos < *previous->cpuNanos)
    return 0;
  double delta = static_cast<double>(*current.cpuNanos - *previous->cpuNanos);
  return roundToTenth(delta / (elapsedSeconds * 1e9) * 100);
}

std::optional<std::string> ProcessTable::desktopEntryId(const std::string& bundlePath) {
  static constexpr std::string_view suffix = ".desktop";
  auto name = lastComponent(bundlePath);
  if (name.size() <= suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::nullopt;
  return name.substr(0, name.size() - suffix.size());
}

std::vector<AppGroup> ProcessTable::appGroups(
    const std::vector<ProcessSample>& samples, const ProcessReadings& readings,
    const std::function<std::optional<std::string>(const std::string&)>& bundleIdentifier) {
  struct Member {
    int32_t pid;
    int32_t ppid;
  };
  std::vector<AppGroup> groups;
  std::vector<std::vector<Member>> members;
  std::unordered_map<std::string, size_t> index;
  for (const auto& sample : samples) {
    if (sample.category != ProcessCategory::userApp && sample.category != ProcessCategory::aiAgent)
      continue;
    auto it = readings.find(sample.pid);
    if (it == readings.end()) continue;
    auto bundle = owningBundle(it->second, readings);
    if (!bundle) continue;
    auto [slot, inserted] = index.emplace(*bundle, groups.size());
    if (inserted) {
      AppGroup g;
      g.name = sample.appName.value_or(*bundle);
      g.bundlePath = *bundle;
      g.category = sample.category;
      groups.push_back(std::move(g));
      members.emplace_back();
    }
    auto& g = groups[slot->second];
    g.processCount += 1;
    g.cpuPercent += sample.cpuPercent;
    g.memoryBytes += sample.memoryBytes;
    if (startsWith(it->second.path, *bundle + "/Contents/MacOS/") &&
        (g.mainPid == 0 || sample.pid < g.mainPid))
      g.mainPid = sample.pid;
    if (sample.category == ProcessCategory::aiAgent) g.category = ProcessCategory::aiAgent;
    members[slot->second].push_back({sample.pid, it->second.ppid});
  }
  for (size_t i = 0; i < groups.size(); ++i) {
    auto& g = groups[i];
    if (auto id = desktopEntryId(g.bundlePath)) {
      g.bundleID = id;
      // A desktop app has no executable folder; its main process is the one
      // the launcher started, the lowest pid whose parent is not in the app.
      std::set<int32_t> pids;
      for (const auto& m : members[i]) pids.insert(m.pid);
      for (const auto& m : members[i])
        if (!pids.count(m.ppid) && (g.mainPid == 0 || m.pid < g.mainPid)) g.mainPid = m.pid;
    } else if (bundleIdentifier) {
      g.bundleID = bundleIdentifier(g.bundlePath);
    }
    g.cpuPercent = roundToTenth(g.cpuPercent);
  }
  std::stable_sort(groups.begin(), groups.end(), [](const AppGroup& a, const AppGroup& b) {
    return a.cpuPercent * 50'000'000 + static_cast<double>(a.memoryBytes) >
           b.cpuPercent * 50'000'000 + static_cast<double>(b.memoryBytes);
  });
  return groups;
}

}  // namespace norvo
