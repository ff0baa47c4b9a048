// The cost of the measuring loop and of answering agents.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_BENCH=ON
//   cmake --build build-bench --target sampler_bench
//   build-bench/bench/sampler_bench
//
// SamplerTick: one whole tick of Sampler::sample() with about 2,000 idle
// processes running, processor time per tick (all threads of this program),
// and resident memory after 100, 500 and 1,000 ticks, which must stay flat
// (NORVO_BENCH_TICKS=N runs N ticks instead, for a longer look).
// StatusTool: what the agent server's status tool does once the loop has
// written a fresh status.json: read it, build the digest for the calling
// agent, encode it.
// StatusToolProcess: a whole `zemnorvo mcp` answering initialize and one
// status call from a fresh status.json, then exiting: processor time of the
// child process (from wait4), which includes finding the calling agent once.
// HookAnswer: `zemnorvo hook` answering a SessionStart event from a fresh
// status.json, processor time of the child process.
// The three answer benchmarks run twice: with the machine's own processes,
// then with the 2,000 idle processes running as well.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "bench_support.hpp"
#include "core/assess/compact.hpp"
#include "core/measure/session.hpp"
#include "core/sampling/sampler.hpp"
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
  // The table's clock moves 5 seconds a tick, as in the loop, so what it
  // keeps for a while (the memory of idle processes) lasts as many ticks as
  // it would there.
  int64_t ticks = 0;
  Date start = std::chrono::system_clock::now();
  ProcessTable table(platform::makeProcessSource(platform::Roots::system()), store,
                     [&] { return start + std::chrono::seconds(5 * ticks); });
  Sampler::Environment env;
  env.table = &table;
  env.storeDirectory = store;
  Sampler sampler(NorvoConfig::defaults(), env);
  sampler.sample();  // the first tick fills the details cache
  double rssAt100 = 0, rssAt500 = 0;
  double cpuStart = processCpuMs();
  for (auto _ : state) {
    ++ticks;
    auto snapshot = sampler.sample();
    benchmark::DoNotOptimize(snapshot);
    if (ticks == 100) rssAt100 = residentMb();
    if (ticks == 500) rssAt500 = residentMb();
  }
  double cpuMs = (processCpuMs() - cpuStart) / double(state.iterations());
  state.counters["cpu_ms_per_tick"] = cpuMs;
  state.counters["core_share_at_5s_percent"] = cpuMs / 5000.0 * 100.0;
  state.counters["processes"] = double(sampler.lastSamples().size());
  state.counters["rss_mb_after_100"] = rssAt100;
  state.counters["rss_mb_after_500"] = rssAt500;
  state.counters["rss_mb_at_end"] = residentMb();
}

void BM_StatusTool(benchmark::State& state) {
  auto store = temporaryStore();
  Sampler::Environment env;
  env.storeDirectory = store;
  NorvoStore::saveStatus(Sampler::measure(0.5, NorvoConfig::defaults(), env), store);
  Session::myAgent();  // found once per process, as in the server
  double start = processCpuMs();
  for (auto _ : state) {
    auto snapshot = NorvoStore::cachedStatus(3600, store);
    auto text = Compact::json(Compact::status(*snapshot, 10));
    benchmark::DoNotOptimize(text);
  }
  state.counters["cpu_ms_per_call"] = (processCpuMs() - start) / double(state.iterations());
}

// A home with a fresh status.json for the child processes to read.
std::filesystem::path freshHome() {
  auto home = temporaryStore();
  auto data = home / ".local/share";
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  NorvoStore::saveStatus(Sampler::measure(0.5, NorvoConfig::defaults()), data / "ZemraNorvo");
  return home;
}

// Runs the tool with `input` on standard input and `keepOpen` milliseconds
// before closing it; returns the child's processor time in milliseconds.
double childCpuMs(const char* word, const std::string& input, int keepOpenMs) {
  int in[2];
  if (::pipe(in) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string path = NORVO_CLI_PATH, command = word;
  char* argv[] = {path.data(), command.data(), nullptr};
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (spawned != 0) {
    ::close(in[1]);
    return -1;
  }
  bool written = ::write(in[1], input.data(), input.size()) == ssize_t(input.size());
  if (keepOpenMs > 0) ::usleep(useconds_t(keepOpenMs) * 1000);
  ::close(in[1]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (!written) return -1;
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void childBenchmark(benchmark::State& state, const char* word, const std::string& input,
                    int keepOpenMs) {
  freshHome();
  double total = 0;
  for (auto _ : state) {
    double ms = childCpuMs(word, input, keepOpenMs);
    if (ms < 0) {
      state.SkipWithError("could not run the tool");
      return;
    }
    total += ms;
  }
  state.counters["child_cpu_ms"] = total / double(state.iterations());
}

void BM_StatusToolProcess(benchmark::State& state) {
  // The server stops what is in flight at end of input, so input stays open
  // long enough for the answer.
  childBenchmark(
      state, "mcp",
      R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{}}})"
      "\n"
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
      "\n"
      R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"status","arguments":{}}})"
      "\n",
      500);
}

void BM_HookAnswer(benchmark::State& state) {
  childBenchmark(
      state, "hook",
      R"({"session_id":"b","hook_event_name":"SessionStart","source":"startup","cwd":"/tmp"})", 0);
}

// The idle processes, started by the first benchmark that wants them and kept
// for the rest of the run (the library cannot run twice in one program).
std::unique_ptr<bench::Population> population;

template <void (*Body)(benchmark::State&)>
void withPopulation(benchmark::State& state) {
  // Created before the timed loop starts, so its cost is not counted.
  if (!population) population = std::make_unique<bench::Population>();
  state.counters["idle_processes"] = double(population->pids.size());
  Body(state);
}

void registerAnswers(const char* suffix, bool crowded) {
  auto name = [&](const char* base) { return std::string(base) + suffix; };
  benchmark::RegisterBenchmark(name("StatusTool").c_str(),
                               crowded ? withPopulation<BM_StatusTool> : BM_StatusTool)
      ->Iterations(200);
  benchmark::RegisterBenchmark(
      name("StatusToolProcess").c_str(),
      crowded ? withPopulation<BM_StatusToolProcess> : BM_StatusToolProcess)
      ->Iterations(10);
  benchmark::RegisterBenchmark(name("HookAnswer").c_str(),
                               crowded ? withPopulation<BM_HookAnswer> : BM_HookAnswer)
      ->Iterations(20);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  registerAnswers("/own", false);
  registerAnswers("/2000", true);
  benchmark::RegisterBenchmark("SamplerTick/2000", withPopulation<BM_SamplerTick>)
      ->Iterations(std::getenv("NORVO_BENCH_TICKS") ? std::atoll(std::getenv("NORVO_BENCH_TICKS"))
                                                    : 1000);
  benchmark::RunSpecifiedBenchmarks();
  population.reset();
  benchmark::Shutdown();
  return 0;
}
