// What a Prometheus scrape of `zemnorvo watch --listen` costs the loop, next
// to what one tick costs, measured in the same run on the same machine.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_BENCH=ON
//   cmake --build build-bench --target exposition_bench
//   build-bench/bench/exposition_bench
//
// SamplerTick: one whole Sampler::sample() over this machine's processes,
// processor time per tick. Scrape: answering GET /metrics from the latest
// snapshot as the listener's thread does (text format, then OpenMetrics),
// processor time per scrape and its share of one tick.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "bench_support.hpp"
#include "core/sampling/metrics_server.hpp"
#include "core/sampling/sampler.hpp"

namespace {

using namespace norvo;
using bench::processCpuMs;

double tickCpuMs = 0;
NorvoSnapshot lastSnapshot;
std::vector<ProcessSample> lastSamples;

void BM_SamplerTick(benchmark::State& state) {
  char tmpl[] = "/tmp/norvo-bench-XXXXXX";
  Sampler::Environment env;
  env.storeDirectory = ::mkdtemp(tmpl) ? tmpl : "/tmp";
  Sampler sampler(NorvoConfig::defaults(), env);
  sampler.sample();
  double start = processCpuMs();
  for (auto _ : state) {
    lastSnapshot = sampler.sample();
    benchmark::DoNotOptimize(lastSnapshot);
  }
  tickCpuMs = (processCpuMs() - start) / double(state.iterations());
  lastSamples = sampler.lastSamples();
  state.counters["cpu_ms_per_tick"] = tickCpuMs;
  state.counters["processes"] = double(lastSamples.size());
}

void BM_Scrape(benchmark::State& state) {
  MetricsServer server;
  server.publish(lastSnapshot, lastSamples);
  platform::HttpRequest request{"GET", "/metrics",
                                state.range(0) ? "application/openmetrics-text;version=1.0.0" : ""};
  size_t bytes = 0;
  double start = processCpuMs();
  for (auto _ : state) {
    auto reply = server.answer(request);
    bytes = reply.body.size();
    benchmark::DoNotOptimize(reply);
  }
  double scrapeMs = (processCpuMs() - start) / double(state.iterations());
  state.counters["cpu_ms_per_scrape"] = scrapeMs;
  state.counters["bytes"] = double(bytes);
  if (tickCpuMs > 0) state.counters["share_of_tick_percent"] = scrapeMs / tickCpuMs * 100;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("SamplerTick", BM_SamplerTick)->Iterations(50);
  benchmark::RegisterBenchmark("Scrape/text", BM_Scrape)->Arg(0)->Iterations(2000);
  benchmark::RegisterBenchmark("Scrape/openmetrics", BM_Scrape)->Arg(1)->Iterations(2000);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
