// The disk scanner against the single-thread floor of the same walk
// (floor_walk: openat + getdents64 + fstatat, nothing kept) on one tree, in
// one run, side by side: medians of several alternating runs, the scanner's
// peak resident memory, and its total against `du -s --block-size=1 -x`.
//
//   disk_scan_bench ROOT FLOOR_WALK_BINARY [RUNS]
//
// Each measurement is a child process of its own, so that its peak memory is
// its own and the page cache is equally warm for both (one warm-up each).
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk_scan.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system: steadier than wall time on a shared machine
  long maxRssKiB = 0;
  std::string out;
};

// Runs `args` with a pipe on stdout; kills it after `limit`.
std::optional<Run> runChild(const std::vector<std::string>& args, std::chrono::seconds limit) {
  int pipeFd[2];
  if (::pipe(pipeFd) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFd[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  auto start = Clock::now();
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFd[1]);
  if (rc != 0) {
    ::close(pipeFd[0]);
    return std::nullopt;
  }
  Run run;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(pipeFd[0], buf, sizeof buf);
    if (n <= 0) break;
    run.out.append(buf, static_cast<size_t>(n));
    if (Clock::now() - start > limit) ::kill(pid, SIGKILL);
  }
  ::close(pipeFd[0]);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.maxRssKiB = usage.ru_maxrss;
  auto secondsOf = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  run.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The child's side: one scan of `root`, printing its total bytes and files.
int scanOnce(const std::string& root) {
  norvo::DiskUsage::Progress progress;
  norvo::DiskUsage::ScanSetup setup{
      norvo::DiskUsage::Places::standard("/nonexistent"), {}, std::nullopt};
  auto report = norvo::DiskUsage::scan(root, std::nullopt, {}, 3600, progress, setup);
  std::printf("%lld %lld %d\n", static_cast<long long>(report.root.bytes),
              static_cast<long long>(report.root.files), report.complete ? 1 : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--scan-once") return scanOnce(argv[2]);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ROOT FLOOR_WALK_BINARY [RUNS]\n", argv[0]);
    return 2;
  }
  std::string root = argv[1], floor = argv[2];
  int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  char self[4096];
  ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (len <= 0) return 1;
  self[len] = 0;
  const auto limit = std::chrono::seconds(600);

  auto du = runChild({"/usr/bin/du", "-s", "--block-size=1", "-x", root}, limit);
  std::vector<double> floorTimes, scanTimes, floorCpu, scanCpu;
  long peakKiB = 0;
  std::string scanOut, floorOut;
  for (int i = 0; i <= runs; ++i) {  // run 0 warms the cache and is not counted
    auto f = runChild({floor, root}, limit);
    auto s = runChild({self, "--scan-once", root}, limit);
    if (!f || !s) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    if (i == 0) continue;
    floorTimes.push_back(f->seconds);
    scanTimes.push_back(s->seconds);
    floorCpu.push_back(f->cpuSeconds);
    scanCpu.push_back(s->cpuSeconds);
    peakKiB = std::max(peakKiB, s->maxRssKiB);
    scanOut = s->out;
    floorOut = f->out;
  }
  long long scanBytes = 0, scanFiles = 0, duBytes = -1, floorKiB = 0;
  int complete = 0;
  std::sscanf(scanOut.c_str(), "%lld %lld %d", &scanBytes, &scanFiles, &complete);
  std::sscanf(floorOut.c_str(), "%lld", &floorKiB);
  if (du) std::sscanf(du->out.c_str(), "%lld", &duBytes);
  double f = median(floorTimes), s = median(scanTimes);
  double fc = median(floorCpu), sc = median(scanCpu);
  std::printf("tree            %s\n", root.c_str());
  std::printf("runs            %d (after one warm-up each)\n", runs);
  std::printf("floor_walk      median %.3f s wall, %.3f s CPU\n", f, fc);
  std::printf(
      "scan            median %.3f s wall, %.3f s CPU   ratio %.2fx wall, %.2fx CPU   "
      "peak RSS %.1f MiB\n",
      s, sc, s / f, sc / fc, static_cast<double>(peakKiB) / 1024);
  std::printf("totals          scan %lld B, du %lld B (%s), floor %lld KiB; %lld files, %s\n",
              scanBytes, duBytes, scanBytes == duBytes ? "equal" : "DIFFERENT", floorKiB, scanFiles,
              complete ? "complete" : "INCOMPLETE");
  return scanBytes == duBytes ? 0 : 1;
}
