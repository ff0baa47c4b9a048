// What one read of the whole process table costs with about 2,000 idle
// processes, next to what `ps -eo pid,ppid,uid,comm,args,rss,cputime` costs
// over the same population. Costs are processor time (user + system) of all
// threads of the reader, or of the ps child via wait4; the resident memory of
// this program is reported after the reads.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_BENCH=ON
//   cmake --build build-bench --target process_table_bench
//   build-bench/bench/process_table_bench
//
// The idle processes are `sleep 600` with long, realistic command lines in
// their argument zero; they are killed and reaped when the program ends, and
// end by themselves after ten minutes if it is killed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "core/measure/process_table.hpp"
#include "core/platform/process_source.hpp"

namespace {

using norvo::bench::idleProcesses;
using norvo::bench::Population;
using norvo::bench::processCpuMs;
using norvo::bench::residentMb;

norvo::ProcessTable makeTable() {
  static const std::string store = [] {
    char tmpl[] = "/tmp/norvo-bench-XXXXXX";
    return std::string(::mkdtemp(tmpl) ? tmpl : "/tmp");
  }();
  return norvo::ProcessTable(norvo::platform::makeProcessSource(norvo::platform::Roots::system()),
                             store);
}

void report(benchmark::State& state, double cpuMs, size_t processes) {
  state.counters["cpu_ms_per_op"] = benchmark::Counter(cpuMs / double(state.iterations()));
  state.counters["processes"] = double(processes);
  state.counters["rss_mb"] = residentMb();
}

void BM_SteadyStateRead(benchmark::State& state) {
  auto table = makeTable();
  size_t seen = table.read(std::chrono::seconds(2)).size();  // fills the details cache
  double cpu = 0;
  for (auto _ : state) {
    double before = processCpuMs();
    auto readings = table.read(std::chrono::seconds(2));
    cpu += processCpuMs() - before;
    seen = readings.size();
    benchmark::DoNotOptimize(readings);
  }
  report(state, cpu, seen);
}

void BM_ColdRead(benchmark::State& state) {
  double cpu = 0;
  size_t seen = 0;
  for (auto _ : state) {
    double before = processCpuMs();
    auto table = makeTable();  // empty cache, workers started afresh
    auto readings = table.read(std::chrono::seconds(2));
    cpu += processCpuMs() - before;
    seen = readings.size();
    benchmark::DoNotOptimize(readings);
  }
  report(state, cpu, seen);
}

void BM_PsCommand(benchmark::State& state) {
  double cpu = 0;
  for (auto _ : state) {
    char* argv[] = {const_cast<char*>("ps"), const_cast<char*>("-eo"),
                    const_cast<char*>("pid,ppid,uid,comm,args,rss,cputime"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "ps", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      state.SkipWithError("ps could not be started");
      return;
    }
    rusage usage{};
    int status = 0;
    ::wait4(pid, &status, 0, &usage);
    cpu += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  }
  state.counters["cpu_ms_per_op"] = benchmark::Counter(cpu / double(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Population population;
  std::printf("idle processes started: %zu\n", population.pids.size());
  benchmark::RegisterBenchmark("SteadyStateRead", BM_SteadyStateRead)->Iterations(20);
  benchmark::RegisterBenchmark("ColdRead", BM_ColdRead)->Iterations(5);
  benchmark::RegisterBenchmark("PsCommand", BM_PsCommand)->Iterations(10);
  benchmark::RunSpecifiedBenchmarks();
  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  std::printf("peak resident memory of the reader: %.1f MB\n", double(self.ru_maxrss) / 1024);
  benchmark::Shutdown();
  return 0;
}
