#include "core/assess/advisor.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using test::app;
using test::GiB;
using test::idleMachine;
using test::MiB;
using test::task;
using test::withFreeBytes;
using Strings = std::vector<std::string>;

Assessment judge(const SystemMetrics& m, const Strings& hung = {},
                 const std::vector<AppGroup>& apps = {},
                 const std::vector<ProcessSample>& tasks = {},
                 const NorvoConfig& config = NorvoConfig{}) {
  return Advisor::assess(m, apps, tasks, hung, config);
}

const std::string diskAdvice =
    "Disk is low: tell the owner; avoid large downloads/builds; call disk_usage (grew_recently: "
    "what took the space lately; advice: what can safely go) and cleanup_preview, then ask with "
    "suggest_cleanup; never delete files yourself.";
const std::string simulatorAdvice =
    "The Android Emulator looks hung (its processes are stuck in the kernel), which slows the "
    "whole computer: do not boot emulators or run UI tests; ask the owner to close the emulator "
    "or run `adb emu kill` (if that hangs too, a restart fixes it).";
const std::string criticalAdvice =
    "Computer is critically loaded: start nothing heavy. Stop your own stale/runaway processes "
    "(kill_ai_process) and wait (wait_for_capacity).";

using L = LoadLevel;
using M = SystemMetrics&;
using Apply = std::function<void(M)>;

Apply cpu(double usage, double load, std::optional<double> freeCores = std::nullopt) {
  return [=](SystemMetrics& m) {
    m.cpu.usage = usage;
    m.cpu.loadAverage1m = load;
    m.cpu.freeCores = freeCores.value_or((1 - usage) * 10);
  };
}
Apply memory(std::string pressure, uint64_t total, uint64_t used) {
  return [=](SystemMetrics& m) {
    m.memory.pressure = pressure;
    m.memory.totalBytes = total;
    m.memory.usedBytes = used;
    m.memory.availableBytes = total - used;
  };
}
// Each rule at its thresholds, alone on an idle machine that also runs an app
// and a task of impossible figures. Figures that cannot come from a real
// reading must neither fire a rule nor leak "nan" or "inf" into a sentence.
TEST(AdvisorAssess, EachRuleAtItsThresholds) {
  struct Row {
    Apply apply;
    LoadLevel level;
    Strings reasons;
  };
  constexpr double gb = double(GiB), inf = HUGE_VAL;
  const double nan = std::nan("");
  const std::string waiting = " on 10 cores: many processes waiting (often hung I/O)";
  // clang-format off
  const Row rows[] = {
      // A saturated CPU is not also reported as a long queue.
      {cpu(0.96, 45.25), L::critical, {"CPU saturated: 96% used, load 45.2 on 10 cores"}},
      // Load at exactly twice the cores is not saturation.
      {cpu(0.97, 20), L::overloaded, {"CPU 97% used"}},
      // At exactly 0.95 the run-queue rule is allowed to fire as well.
      {cpu(0.95, 41.9), L::overloaded, {"CPU 95% used", "load average 41" + waiting}},
      {cpu(0.851, 1), L::overloaded, {"CPU 85% used"}},
      {cpu(0.85, 1), L::busy, {"CPU 85% used"}},
      {cpu(0.6001, 1), L::busy, {"CPU 60% used"}},
      {cpu(0.6, 1), L::ok, {}},
      {cpu(0.5, 41), L::overloaded, {"load average 41" + waiting}},
      {cpu(0.5, 40), L::ok, {}},
      // Pressure wins over the used share: one memory reason only.
      {memory("warning", 16 * GiB, 15 * GiB), L::overloaded, {"memory pressure warning"}},
      // Exactly 85% used is not enough; a byte more is.
      {memory("normal", 20 * GiB, 17 * GiB), L::ok, {}},
      {memory("normal", 20 * GiB, 17 * GiB + 1), L::busy, {"memory 85% used, 3.0 GB available"}},
      // Unknown total memory counts as one byte and must not divide by zero.
      {memory("normal", 0, 0), L::ok, {}},
      // Just above the line fires the heavy row, shown truncated.
      {[](M m) { m.memory.swapOutsPerSecond = 500.9; }, L::overloaded, {"swapping heavily (500 pages/s)"}},
      {[](M m) { m.memory.swapOutsPerSecond = 500; }, L::busy, {"swapping (500 pages/s)"}},
      {[](M m) { m.memory.swapOutsPerSecond = 50.5; }, L::busy, {"swapping (50 pages/s)"}},
      {[](M m) { m.memory.swapOutsPerSecond = 50; }, L::ok, {}},
      // One decimal rounds up.
      {[](M m) { m = withFreeBytes(m, 4.99 * gb); }, L::critical, {"boot disk almost full: 5.0 GB free"}},
      {[](M m) { m = withFreeBytes(m, 5 * gb); }, L::overloaded, {"boot disk low: 5.0 GB free"}},
      {[](M m) { m = withFreeBytes(m, 15 * gb); }, L::busy, {"boot disk 15.0 GB free"}},
      {[](M m) { m = withFreeBytes(m, 30 * gb); }, L::ok, {}},
      // A nonsensical negative figure reads as a full disk, not as "-0.0".
      {[](M m) { m = withFreeBytes(m, -1); }, L::critical, {"boot disk almost full: 0.0 GB free"}},
      // "/" counts even when listed after another volume; without it the first stands in.
      {[](M m) { m.volumes.insert(m.volumes.begin(), {"/Volumes/Backup", "Backup", 1, 2 * GiB}); }, L::ok, {}},
      {[](M m) { m.volumes = {{"/Volumes/Backup", "Backup", 1, 2 * GiB}}; }, L::critical, {"boot disk almost full: 2.0 GB free"}},
      {[](M m) { m.volumes.clear(); }, L::critical, {"boot disk almost full: 0.0 GB free"}},
      {cpu(inf, 100, 9), L::overloaded, {"load average 100" + waiting}},
      {cpu(0.99, inf, 9), L::overloaded, {"CPU 99% used"}},
      {[](M m) { m.memory.swapOutsPerSecond = inf; }, L::ok, {}},
      {cpu(0.1, 1.5, nan), L::ok, {}},
      {cpu(0.1, 1e300, 9), L::overloaded, {"load average 9223372036854775807" + waiting}},
  };
  // clang-format on
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE(testing::Message() << "row " << i);
    auto m = idleMachine();
    row.apply(m);
    auto a = judge(m, {}, {app("Odd", HUGE_VAL, 2 * GiB)}, {task(7, std::nan(""), GiB)});
    EXPECT_EQ(a.level, row.level);
    EXPECT_EQ(a.reasons, row.reasons);
    const bool diskReason = !a.reasons.empty() && a.reasons[0].find("disk") != std::string::npos;
    EXPECT_EQ(std::count(a.advice.begin(), a.advice.end(), diskAdvice), diskReason ? 1 : 0);
    EXPECT_GE(a.recommendedBuildThreads, 1);
    EXPECT_GE(a.recommendedParallelJobs, 0);
    for (const auto& t : a.advice) {
      EXPECT_EQ(t.find("nan"), std::string::npos) << t;
      EXPECT_EQ(t.find("inf"), std::string::npos) << t;
    }
  }
}

TEST(AdvisorAssess, HungRulesAndAdvice) {
  struct Case {
    Strings hung;
    LoadLevel level;
    Strings reasons;
    std::string hungAdvice;  // empty: neither hung advice
  };
  const std::string sixHung =
      "Processes hung in the kernel: a, b, c, d, e, f. Usually a stuck disk image or network "
      "volume; avoid touching it.";
  // clang-format off
  const Case cases[] = {
      // An emulator name sets the flag whatever the count.
      {{"qemu-system-x86_64", "mds"}, L::ok, {}, simulatorAdvice},
      {{"emulator"}, L::ok, {}, simulatorAdvice},
      {{"a", "b", "c", "d", "e", "f", "g", "h"}, L::overloaded, {"8 processes hung in the kernel"}, sixHung},
      {{"a", "b", "qemu-system-aarch64-headless"}, L::overloaded, {"3 processes hung in the kernel (Android Emulator)"}, simulatorAdvice},
      // Only the qemu prefix or the launcher's exact name mean the emulator.
      {{"my-qemu-system-x86_64", "emulator2"}, L::ok, {}, ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hung.front());
    auto a = judge(idleMachine(), c.hung);
    EXPECT_EQ(a.level, c.level);
    EXPECT_EQ(a.reasons, c.reasons);
    // The list is kept whole even where the advice names only six.
    EXPECT_EQ(a.hungProcesses, c.hung);
    // The level sentence, then one hung sentence at most.
    EXPECT_EQ(a.advice.size(), c.hungAdvice.empty() ? 1u : 2u);
    EXPECT_EQ(a.advice.back(), c.hungAdvice.empty() ? a.advice.front() : c.hungAdvice);
  }
}

TEST(AdvisorAssess, ReasonsFollowRuleOrderAndLevelNeverDrops) {
  auto m = withFreeBytes(idleMachine(), 20.0 * GiB);
  m.cpu.usage = 0.9;
  m.cpu.freeCores = 1;
  m.cpu.loadAverage1m = 50;
  m.memory.pressure = "warning";
  m.memory.swapOutsPerSecond = 80;
  m.thermalState = "critical";
  m.lowPowerMode = true;
  auto a = judge(m, {"mount_smbfs", "fsck_apfs", "diskimages-helper"});
  EXPECT_EQ(a.level, LoadLevel::critical);  // thermal raised it; later busy rows do not lower it
  EXPECT_EQ(a.reasons,
            (Strings{"CPU 90% used", "memory pressure warning", "swapping (80 pages/s)",
                     "thermal state critical, CPU is throttled",
                     "load average 50 on 10 cores: many processes waiting (often hung I/O)",
                     "3 processes hung in the kernel", "boot disk 20.0 GB free"}));
  // The owner's widget speaks Russian by default: every rule's Russian reason once.
  EXPECT_EQ(a.reasonsRu,
            (Strings{"процессор 90%", "не хватает памяти", "запись в своп",
                     "перегрев, частота сильно снижена", "очередь 50 процессов на 10 ядер",
                     "3 процессов зависли", "на диске 20 ГБ"}));
  // The hung sentence is HungRulesAndAdvice's; the rest is reading order.
  EXPECT_EQ(a.advice.front(), criticalAdvice);
  EXPECT_EQ(a.advice.back(), "Low Power Mode is on: CPU is slower than usual.");
}

TEST(AdvisorAssess, JobsAndThreads) {
  struct Case {
    const char* what;
    std::string thermal;  // sets the level without touching the figures
    double freeCores;
    int64_t perf;
    uint64_t available, cached;
    int64_t jobs, threads;
  };
  const uint64_t job = 2560 * MiB, plenty = 100 * GiB;  // memory for one job, for many
  // clang-format off
  const Case cases[] = {
      {"ok, capped by performance cores", "nominal", 9, 3, plenty, 0, 3, 9},
      {"memory just short of one job", "nominal", 9, 8, job - 1, 0, 1, 9},
      {"half the cache counts", "nominal", 9, 8, job, 2 * job, 2, 9},
      {"ok never below one job", "nominal", 0.4, 8, 0, 0, 1, 1},
      {"no performance-core count caps at one", "nominal", 9, 0, plenty, 0, 1, 9},
      {"busy never below one job", "fair", 1.9, 8, plenty, 0, 1, 2},
      {"busy keeps raw", "fair", 6, 8, plenty, 0, 3, 6},
      {"overloaded with raw 0", "serious", 1.5, 8, plenty, 0, 0, 2},
      {"overloaded with raw 3", "serious", 6, 8, plenty, 0, 1, 6},
      {"critical", "critical", 9, 8, plenty, 0, 0, 1},
      {"threads at most the cores", "nominal", 12, 8, plenty, 0, 6, 10},
      {"free cores unknown", "nominal", std::nan(""), 8, plenty, 0, 1, 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    auto m = idleMachine();
    m.thermalState = c.thermal;
    m.cpu.freeCores = c.freeCores;
    m.cpu.performanceCores = c.perf;
    m.memory = {256 * GiB, 0, 0, 0, 0, c.cached, c.available};
    auto a = judge(m);
    EXPECT_EQ(a.recommendedParallelJobs, c.jobs) << c.what;
    EXPECT_EQ(a.recommendedBuildThreads, c.threads) << c.what;
    // The sentence agents read names the same figures.
    if (c.thermal == "nominal") {
      EXPECT_EQ(a.advice.front(), "Capacity available: up to " + std::to_string(c.jobs) +
                                      " heavy job(s) in parallel, " + std::to_string(c.threads) +
                                      " build thread(s).");
    }
  }
}

TEST(AdvisorAssess, QuitCandidatesFilter) {
  NorvoConfig config;
  config.neverSuggest = {"com.apple.Terminal", "com.owner.keep"};
  const std::vector<AppGroup> apps = {
      app("CpuEdge", 25, 0),        // exactly 25%
      app("MemEdge", 0, GiB),       // exactly 1 GB
      app("Light", 24.9, GiB - 1),  // neither
      app("Kept", 90, 4 * GiB, ProcessCategory::userApp, "com.owner.keep"),
      app("Listed", 90, 0, ProcessCategory::userApp, "com.owner.other"),
      app("Claude", 90, 4 * GiB, ProcessCategory::aiAgent),
      app("WindowServer", 90, 4 * GiB, ProcessCategory::system),
      app("NanCpu", std::nan(""), 0),  // unknown CPU is not heavy
  };
  auto a = Advisor::assess(idleMachine(), apps, {}, {}, config);
  Strings names;
  for (const auto& g : a.quitCandidates) names.push_back(g.name);
  EXPECT_EQ(names, (Strings{"CpuEdge", "MemEdge", "Listed"}));
  // An ok machine lists them but does not advise about them.
  EXPECT_EQ(a.advice.size(), 1u);
}

TEST(AdvisorAssess, QuitCandidatesCapAndAdvice) {
  std::vector<AppGroup> apps;
  for (int i = 1; i <= 9; ++i) apps.push_back(app("App" + std::to_string(i), 30, GiB - 1));
  auto a = judge(withFreeBytes(idleMachine(), 20.0 * GiB), {}, apps);
  ASSERT_EQ(a.quitCandidates.size(), 8u);
  EXPECT_EQ(a.quitCandidates.back().name, "App8");
  EXPECT_EQ(a.advice[1],
            "Heavy apps of the owner (not AI): App1 (30.0% CPU, 1023 MB), App2 (30.0% CPU, 1023 "
            "MB), App3 (30.0% CPU, 1023 MB), App4 (30.0% CPU, 1023 MB), App5 (30.0% CPU, 1023 MB). "
            "You may propose quitting them with suggest_quit_apps; never kill them yourself.");
}

TEST(AdvisorAssess, HeavyAITasks) {
  std::vector<ProcessSample> tasks = {task(1, 25, 0), task(2, 24.9, 512 * MiB - 1),
                                      task(3, 0, 512 * MiB), task(4, std::nan(""), 0)};
  for (int pid = 5; pid <= 16; ++pid) tasks.push_back(task(pid, 99, 0));
  std::vector<int32_t> pids;
  for (const auto& t : judge(idleMachine(), {}, {}, tasks).heavyAITasks) pids.push_back(t.pid);
  // At either threshold, in the order given, the first ten.
  EXPECT_EQ(pids, (std::vector<int32_t>{1, 3, 5, 6, 7, 8, 9, 10, 11, 12}));
}

}  // namespace
}  // namespace norvo
