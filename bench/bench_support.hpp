// What the benchmarks share: processor time and resident memory of this
// program, and a population of idle processes with realistic command lines
// (`sleep 600`, killed and reaped when the population ends, and ending by
// themselves after ten minutes if the benchmark is killed).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace norvo::bench {

constexpr int idleProcesses = 2000;

inline double processCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

inline double residentMb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  double kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1) break;
  std::fclose(f);
  return kb / 1024;
}

inline std::string realisticCommandLine(int i) {
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

}  // namespace norvo::bench
