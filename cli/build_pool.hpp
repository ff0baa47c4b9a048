// The build-token pool as the commands see it: the loop keeps it, status and
// the hook report it, `zemnorvo run` joins it.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/assess/norvo_snapshot.hpp"
#include "core/integration/claude_hook.hpp"
#include "core/jobserver/jobserver_pool.hpp"

namespace norvo::cli {

// The loop's pool, or null when there is none; says once on standard error
// why not (no XDG_RUNTIME_DIR, a refused FIFO).
std::unique_ptr<jobserver::JobserverPool> openLoopPool();

// One tick of the pool: follows the snapshot's recommended build threads
// (ZEMNORVO_POOL_THREADS, a whole number from 1, sets them instead, for
// tests and owners who want a fixed pool) and publishes the state beside the
// FIFO when it changed (a write a tick costs an fsync). `last` keeps what
// the previous tick published and complained of, so each is done once.
struct PoolTicks {
  std::optional<jobserver::PoolState> published;
  std::string error;
};
void tickPool(jobserver::JobserverPool& pool, const NorvoSnapshot& snapshot, PoolTicks& last);

// The pool's last published state while a loop keeps it; absent otherwise.
// Never throws.
std::optional<jobserver::PoolState> livePool();

// While the pool is live: the digest's "build_pool" block and the sentence
// telling agents to build through it, added to `digest` (a status digest).
void addBuildPool(nlohmann::json& digest);

// While the pool is live: the SessionStart advice names it, and a Bash
// command that builds gets the advice, or its rewrite through the pool
// where the owner set "rewriteBuilds" in config.json.
void adviseBuilds(const claude_hook::Event& event, claude_hook::Status& status);

}  // namespace norvo::cli
