// The machine-wide build-token pool that the measuring loop keeps: a
// jobserver FIFO whose token count follows the build threads the advice
// recommends. It grows by writing tokens; it shrinks only as tokens come
// back, read by a thread blocked on the FIFO, never by taking them from
// running jobs; and it finds tokens lost with a client killed by SIGKILL
// once no client holds the FIFO.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/jobserver/pool_ledger.hpp"
#include "core/platform/jobserver_fifo.hpp"
#include "core/platform/roots.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::jobserver {

// What the pool looks like after a tick, as status and agents show it.
struct PoolState {
  std::string path;     // the FIFO
  int64_t size = 0;     // build threads: the tokens aimed at plus one implicit
  int64_t tokens = 0;   // tokens in circulation now (more than size − 1 while shrinking)
  int64_t free = 0;     // tokens waiting in the FIFO
  int64_t clients = 0;  // processes holding the FIFO open, the keeper aside, as last counted
  Date updated{};
};

void to_json(nlohmann::json& j, const PoolState& s);
void from_json(const nlohmann::json& j, PoolState& s);

// The digest's "build_pool" block: size, free, clients, tokens, and the FIFO.
nlohmann::json digest(const PoolState& state);

// The record beside the FIFO that status readers load: "jobserver.json".
std::filesystem::path stateFile(const std::filesystem::path& fifo);

class JobserverPool {
 public:
  // Keeps the FIFO at `path` (made when missing, reused when there); absent
  // with the reason in `error` when it is refused or cannot be made.
  static std::unique_ptr<JobserverPool> open(const std::filesystem::path& path,
                                             const platform::Roots& roots, std::string& error);
  // Stops the reader. The FIFO and its tokens stay for the clients still
  // building; a restarted keeper takes them over.
  ~JobserverPool();
  JobserverPool(const JobserverPool&) = delete;
  JobserverPool& operator=(const JobserverPool&) = delete;

  // One tick: aims at `buildThreads` (capped by `usableCores`), looks for
  // lost tokens while any are out, writes what the pool lacks. `clients` in
  // the state counts every process holding the FIFO as of the last whole
  // look (every 2 minutes, or when the clients of the previous look are gone), and
  // those of them still holding it in between. `error` is set when a
  // write or look failed, with the state as far as it is known.
  PoolState follow(int64_t buildThreads, int64_t usableCores, std::string& error);

 private:
  JobserverPool(platform::JobserverFifo fifo, std::filesystem::path path, platform::Roots roots);
  void readBack();
  // Holds the reader outside its read while the caller counts the FIFO.
  void pauseReader(std::unique_lock<std::mutex>& lock);

  platform::JobserverFifo fifo_;
  std::filesystem::path path_;
  platform::Roots roots_;
  pid_t self_;
  std::mutex mutex_;
  std::condition_variable changed_;
  PoolLedger ledger_;
  // Clients as last looked at: every process each 2 minutes, and while tokens are
  // out, at each tick, those of the last look (all again once none is left).
  std::vector<pid_t> known_;
  std::optional<std::chrono::steady_clock::time_point> countedAt_;
  static constexpr std::chrono::seconds recountEvery{120};
  bool stopping_ = false, paused_ = false, reading_ = false;
  std::thread reader_;
};

}  // namespace norvo::jobserver
