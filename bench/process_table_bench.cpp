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

#include "core/measure/process_table.hpp"
#include "core/platform/process_source.hpp"

extern char** environ;

namespace {

constexpr int idleProcesses = 2000;

double processCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double residentMb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  double kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1) break;
  std::fclose(f);
  return kb / 1024;
}

std::string realisticCommandLine(int i) {
  static const char* shapes[] = {
      "node /home/dev/.npm-global/lib/node_modules/typescript/lib/tsserver.js --serverMode "
      "partialSemantic --useInferredProjectPerProjectRoot --disableAutomaticTypingAcquisition "
      "--cancellationPipeName /tmp/vscode-typescript1000/tscancellation-",
      "/usr/lib/jvm/java-17-openjdk-amd64/bin/java -Xmx2048m -XX:+UseG1GC -Dfile.encoding=UTF-8 "
      "-classpath /home/dev/.gradle/wrapper/dists/gradle-8.5-bin/lib/gradle-launcher-8.5.jar "
      "org.gradle.launcher.daemon.bootstrap.GradleDaemon 8.5 worker-",
      "/usr/bin/python3 -m pytest tests/integration/test_api.py -k 'not slow' --maxfail=1 "
      "--junitxml=/home/dev/src/service/build/reports/junit-",
      "/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus -quiet -I /home/dev/src/engine/include "
      "-D NDEBUG -O2 -std=c++20 /home/dev/src/engine/src/render/pipeline_",
  };
  return std::string(shapes[i % 4]) + std::to_string(i);
}

struct Population {
  std::vector<pid_t> pids;

  Population() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (int i = 0; i < idleProcesses; ++i) {
      std::string zero = realisticCommandLine(i);
      std::string seconds = "600";
      char* argv[] = {zero.data(), seconds.data(), nullptr};
      pid_t pid = 0;
      if (posix_spawn(&pid, "/bin/sleep", &actions, nullptr, argv, environ) == 0)
        pids.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Population() {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  }
};

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
