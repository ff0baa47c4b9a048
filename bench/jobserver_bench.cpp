// What the build pool adds to each tick of the measuring loop: one follow()
// with the pool live, which scans /proc for the FIFO's holders (twice when
// no client holds it) and counts the tokens.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_BENCH=ON
//   cmake --build build-bench --target jobserver_bench
//   build-bench/bench/jobserver_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/jobserver/jobserver_pool.hpp"

namespace {

using namespace norvo;

void PoolTick(benchmark::State& state) {
  auto folder =
      std::filesystem::temp_directory_path() / ("norvo-pool-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::string error;
  auto pool =
      jobserver::JobserverPool::open(folder / "jobserver", platform::Roots::system(), error);
  if (!pool) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(pool->follow(8, 0, error));
  pool.reset();
  std::filesystem::remove_all(folder);
}
BENCHMARK(PoolTick)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
