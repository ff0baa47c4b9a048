#include "core/jobserver/jobserver_pool.hpp"

#include <unistd.h>

#include <chrono>
#include <utility>

#include "core/records/record_fields.hpp"

namespace norvo::jobserver {

namespace {

using namespace std::chrono_literals;

constexpr auto poolStateFields = record_fields::list(
    record_fields::field("path", &PoolState::path), record_fields::field("size", &PoolState::size),
    record_fields::field("tokens", &PoolState::tokens),
    record_fields::field("free", &PoolState::free),
    record_fields::field("clients", &PoolState::clients),
    record_fields::field("updated", &PoolState::updated));

}  // namespace

void to_json(nlohmann::json& j, const PoolState& s) { poolStateFields.write(j, s); }
void from_json(const nlohmann::json& j, PoolState& s) { poolStateFields.read(j, s); }

nlohmann::json digest(const PoolState& s) {
  return {{"fifo", s.path},
          {"size", s.size},
          {"free", s.free},
          {"clients", s.clients},
          {"tokens", s.tokens}};
}

std::filesystem::path stateFile(const std::filesystem::path& fifo) {
  return fifo.parent_path() / "jobserver.json";
}

std::unique_ptr<JobserverPool> JobserverPool::open(const std::filesystem::path& path,
                                                   const platform::Roots& roots,
                                                   std::string& error) {
  platform::JobserverFifo::Outcome outcome;
  auto fifo = platform::JobserverFifo::keep(path, outcome, error);
  if (!fifo) return nullptr;
  return std::unique_ptr<JobserverPool>(new JobserverPool(std::move(*fifo), path, roots));
}

JobserverPool::JobserverPool(platform::JobserverFifo fifo, std::filesystem::path path,
                             platform::Roots roots)
    : fifo_(std::move(fifo)), path_(std::move(path)), roots_(std::move(roots)), self_(::getpid()) {
  // Tokens already in a reused FIFO are the pool's until a tick says otherwise.
  ledger_.issued = ledger_.target = fifo_.available().value_or(0);
  reader_ = std::thread([this] { readBack(); });
}

JobserverPool::~JobserverPool() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
  while (reading_) {
    platform::interruptTake(reader_);
    changed_.wait_for(lock, 5ms);
  }
  lock.unlock();
  reader_.join();
}

void JobserverPool::readBack() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || (!paused_ && tokensOwed(ledger_) > 0); });
    if (stopping_) return;
    reading_ = true;
    lock.unlock();
    bool took = fifo_.takeOne();
    lock.lock();
    reading_ = false;
    changed_.notify_all();
    std::string ignored;
    // A token read after the target rose again goes straight back.
    if (took && !keepReadToken(ledger_)) fifo_.put(1, ignored);
    // Interrupted by a tick or the end; a failing read must not spin.
    if (!took && !stopping_ && !paused_) changed_.wait_for(lock, 100ms);
  }
}

void JobserverPool::pauseReader(std::unique_lock<std::mutex>& lock) {
  paused_ = true;
  while (reading_) {
    platform::interruptTake(reader_);
    changed_.wait_for(lock, 5ms);
  }
}

PoolState JobserverPool::follow(int64_t buildThreads, int64_t usableCores, std::string& error) {
  PoolState state;
  state.path = path_.string();
  state.updated =
      std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  auto now = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  // The scan of every /proc/PID/fd is most of what the pool costs a tick.
  // With every token at home nothing can be lost, so the clients are only
  // recounted now and then for status. While tokens are out, a lost one can
  // be found only once no client is left: as long as a client of the last
  // count still holds the FIFO, looking at those few is enough.
  bool tokensOut = reading_ || fifo_.available() != ledger_.issued;
  bool recount = !countedAt_ || now - *countedAt_ >= recountEvery;
  lock.unlock();
  std::optional<std::vector<pid_t>> before;
  if (tokensOut && !recount && !known_.empty()) {
    before = fifo_.holders(roots_, self_, &known_);
    if (before && before->empty()) before.reset();
  }
  bool count = tokensOut || recount;
  if (count && !before) {
    before = fifo_.holders(roots_, self_);
    if (before) countedAt_ = now;
  }
  lock.lock();
  ledger_.target = targetTokens(buildThreads, usableCores);
  state.size = ledger_.target + 1;
  // Without clients a FIFO holding what the ledger says needs no second look:
  // that look doubles the tick's cost, and only a lost token makes it matter.
  if (before && before->empty() && (reading_ || fifo_.available() != ledger_.issued)) {
    // The reader must not take a token between the count and the ledger.
    pauseReader(lock);
    HolderLook look{0, fifo_.available(), std::nullopt};
    if (auto after = fifo_.holders(roots_, self_))
      look.clientsAfter = static_cast<int64_t>(after->size());
    ledger_ = afterLook(ledger_, look);
    paused_ = false;
  }
  int64_t add = tokensToAdd(ledger_);
  if (add > 0) {
    if (fifo_.put(add, error))
      ledger_.issued += add;
    else
      error = "build pool " + path_.string() + ": " + error;
  }
  if (count && !before)
    error = "build pool: cannot look for its clients in " + roots_.proc.string();
  if (before) known_ = *before;
  changed_.notify_all();
  state.tokens = ledger_.issued;
  state.free = fifo_.available().value_or(0);
  state.clients = static_cast<int64_t>(known_.size());
  return state;
}

}  // namespace norvo::jobserver
