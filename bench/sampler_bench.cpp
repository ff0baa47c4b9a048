// The cost of the measuring loop and of answering agents.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_BENCH=ON
//   cmake --build build-bench --target sampler_bench
//   build-bench/bench/sampler_bench
//
// SamplerTick: one whole tick of Sampler::sample() with about 2,000 idle
// processes running, processor time per tick (all threads of this program),
// and resident memory after 100 and after 1,000 ticks, which must stay flat.
// StatusTool: what the agent server's status tool does once the loop has
// written a fresh status.json: read it, build the digest, encode it.
// HookAnswer: `zemnorvo hook` answering a SessionStart event from a fresh
// status.json, processor time of the child process (from wait4), with the
// machine's own processes only.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>

#include "bench_support.hpp"
#include "core/assess/compact.hpp"
#include "core/measure/sampler.hpp"
#include "core/store/norvo_store.hpp"

namespace {

using namespace norvo;
using bench::processCpuMs;
using bench::residentMb;

std::filesystem::path temporaryStore() {
  char tmpl[] = "/tmp/norvo-bench-XXXXXX";
  return ::mkdtemp(tmpl) ? tmpl : "/tmp";
}

void BM_SamplerTick(benchmark::State& state) {
  auto store = temporaryStore();
  ProcessTable table(platform::makeProcessSource(platform::Roots::system()), store);
  Sampler::Environment env;
  env.table = &table;
  env.storeDirectory = store;
  Sampler sampler(NorvoConfig::defaults(), env);
  sampler.sample();  // the first tick fills the details cache
  double rssAt100 = 0;
  int64_t ticks = 0;
  double start = processCpuMs();
  for (auto _ : state) {
    auto snapshot = sampler.sample();
    benchmark::DoNotOptimize(snapshot);
    if (++ticks == 100) rssAt100 = residentMb();
  }
  double cpuMs = (processCpuMs() - start) / double(state.iterations());
  state.counters["cpu_ms_per_tick"] = cpuMs;
  state.counters["core_share_at_5s_percent"] = cpuMs / 5000.0 * 100.0;
  state.counters["processes"] = double(sampler.lastSamples().size());
  state.counters["rss_mb_after_100"] = rssAt100;
  state.counters["rss_mb_at_end"] = residentMb();
}

void BM_StatusTool(benchmark::State& state) {
  auto store = temporaryStore();
  Sampler::Environment env;
  env.storeDirectory = store;
  NorvoStore::saveStatus(Sampler::measure(0.5, NorvoConfig::defaults(), env), store);
  double start = processCpuMs();
  for (auto _ : state) {
    auto snapshot = NorvoStore::cachedStatus(3600, store);
    auto text = Compact::json(Compact::status(*snapshot, 10, std::nullopt, nullptr));
    benchmark::DoNotOptimize(text);
  }
  state.counters["cpu_ms_per_call"] = (processCpuMs() - start) / double(state.iterations());
}

void BM_HookAnswer(benchmark::State& state) {
  auto home = temporaryStore();
  auto data = home / ".local/share";
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  NorvoStore::saveStatus(Sampler::measure(0.5, NorvoConfig::defaults()), data / "ZemraNorvo");
  std::string input =
      R"({"session_id":"b","hook_event_name":"SessionStart","source":"startup","cwd":"/tmp"})";
  double childCpuMs = 0;
  for (auto _ : state) {
    int in[2];
    if (::pipe(in) != 0) break;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string path = NORVO_CLI_PATH, word = "hook";
    char* argv[] = {path.data(), word.data(), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    if (::write(in[1], input.data(), input.size()) < 0) state.SkipWithError("write failed");
    ::close(in[1]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    childCpuMs += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  }
  state.counters["child_cpu_ms_per_answer"] = childCpuMs / double(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("StatusTool", BM_StatusTool)->Iterations(200);
  benchmark::RegisterBenchmark("HookAnswer", BM_HookAnswer)->Iterations(20);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::ClearRegisteredBenchmarks();
  {
    bench::Population population;
    std::printf("idle processes started: %zu\n", population.pids.size());
    benchmark::RegisterBenchmark("SamplerTick", BM_SamplerTick)->Iterations(1000);
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return 0;
}
