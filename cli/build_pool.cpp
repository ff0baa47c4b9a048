#include "cli/build_pool.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "core/jobserver/build_command.hpp"
#include "core/measure/norvo_config.hpp"
#include "core/platform/jobserver_fifo.hpp"
#include "core/platform/record_file.hpp"

namespace norvo::cli {

namespace {

std::optional<int64_t> fixedThreads() {
  const char* text = std::getenv("ZEMNORVO_POOL_THREADS");
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  long long n = std::strtoll(text, &end, 10);
  if (*end != '\0' || n < 1 || n > 4096) return std::nullopt;
  return n;
}

}  // namespace

std::unique_ptr<jobserver::JobserverPool> openLoopPool() {
  auto path = platform::jobserverPath();
  if (!path) {
    std::fprintf(stderr, "zemnorvo watch: no build pool: XDG_RUNTIME_DIR is not set\n");
    return nullptr;
  }
  std::string error;
  auto pool = jobserver::JobserverPool::open(*path, platform::Roots::system(), error);
  if (!pool) std::fprintf(stderr, "zemnorvo watch: no build pool: %s\n", error.c_str());
  return pool;
}

void tickPool(jobserver::JobserverPool& pool, const NorvoSnapshot& snapshot, PoolTicks& last) {
  std::string error;
  auto threads = fixedThreads().value_or(snapshot.assessment.recommendedBuildThreads);
  auto state = pool.follow(threads, snapshot.metrics.cpu.logicalCores, error);
  auto same = [](const jobserver::PoolState& a, const jobserver::PoolState& b) {
    return a.path == b.path && a.size == b.size && a.tokens == b.tokens && a.free == b.free &&
           a.clients == b.clients;
  };
  if (error.empty() && !(last.published && same(*last.published, state))) {
    auto written = record_file::write(state, jobserver::stateFile(state.path));
    if (written)
      last.published = state;
    else
      error = written.error;
  }
  if (!error.empty() && error != last.error)
    std::fprintf(stderr, "zemnorvo watch: %s\n", error.c_str());
  last.error = error;
}

std::optional<jobserver::PoolState> livePool() {
  try {
    auto path = platform::jobserverPath();
    if (!path) return std::nullopt;
    platform::JobserverFifo::Outcome outcome;
    std::string error;
    if (!platform::JobserverFifo::join(*path, outcome, error)) return std::nullopt;
    return record_file::read<jobserver::PoolState>(jobserver::stateFile(*path),
                                                   record_file::Links::refuse);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo: build pool: %s\n", e.what());
    return std::nullopt;
  }
}

void addBuildPool(nlohmann::json& digest) {
  auto pool = livePool();
  if (!pool) return;
  digest["build_pool"] = jobserver::digest(*pool);
  if (digest.contains("advice") && digest["advice"].is_array())
    digest["advice"].push_back(jobserver::poolAdvice());
}

void adviseBuilds(const claude_hook::Event& event, claude_hook::Status& status) {
  bool bashBuild = event.hookEventName == "PreToolUse" && event.toolName == "Bash" &&
                   event.command && jobserver::startsBuild(*event.command);
  if (event.hookEventName != "SessionStart" && !bashBuild) return;
  if (!livePool()) return;
  if (!bashBuild) {
    status.advice += (status.advice.empty() ? "" : " ") + jobserver::poolAdvice();
    return;
  }
  status.buildAdvice = "This command builds. " + jobserver::poolAdvice();
  if (NorvoConfig::load().rewriteBuilds.value_or(false))
    status.rewrittenCommand = jobserver::throughPool(*event.command);
}

}  // namespace norvo::cli
