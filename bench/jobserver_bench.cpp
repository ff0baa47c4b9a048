// What the build pool adds to each tick of the measuring loop: one follow()
// with the pool live. Settled, every token is in the FIFO and the tick only
// counts them; while a build holds a token, each tick looks whether the
// clients of the last look still hold the FIFO. A whole look, every process's
// descriptors, runs every 2 minutes and when those clients are gone. Run it
// beside the sampler bench to set them against a whole tick.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_BENCH=ON
//   cmake --build build-bench --target jobserver_bench
//   build-bench/bench/jobserver_bench
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/jobserver/jobserver_pool.hpp"

namespace {

using namespace norvo;

void PoolTick(benchmark::State& state, bool building) {
  auto folder =
      std::filesystem::temp_directory_path() / ("norvo-pool-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::string error;
  auto path = folder / "jobserver";
  auto pool = jobserver::JobserverPool::open(path, platform::Roots::system(), error);
  if (!pool) {
    state.SkipWithError(error.c_str());
    return;
  }
  pool->follow(8, 0, error);
  pid_t client = -1;
  if (building) {
    // A client that took one token and keeps the FIFO open, as a make does.
    platform::JobserverFifo::Outcome outcome;
    auto fifo = platform::JobserverFifo::join(path, outcome, error);
    if (!fifo || fifo->takeWithoutWaiting(1) != 1 || !fifo->inheritable(error)) {
      state.SkipWithError(("cannot hold a token: " + error).c_str());
      return;
    }
    client = ::fork();
    if (client == 0) {
      ::execlp("sleep", "sleep", "1000", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  for (auto _ : state) benchmark::DoNotOptimize(pool->follow(8, 0, error));
  if (client > 0) {
    ::kill(client, SIGKILL);
    ::waitpid(client, nullptr, 0);
  }
  pool.reset();
  std::filesystem::remove_all(folder);
}
void WholeLook(benchmark::State& state) {
  auto folder =
      std::filesystem::temp_directory_path() / ("norvo-look-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::string error;
  platform::JobserverFifo::Outcome outcome;
  auto fifo = platform::JobserverFifo::keep(folder / "jobserver", outcome, error);
  if (!fifo) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(fifo->holders(platform::Roots::system(), ::getpid()));
  std::filesystem::remove_all(folder);
}
BENCHMARK(WholeLook)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(PoolTick, settled, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PoolTick, whileBuilding, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
