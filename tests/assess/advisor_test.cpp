#include "core/assess/advisor.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

bool hasAdviceStartingWith(const Assessment& a, const std::string& prefix) {
  for (const auto& s : a.advice)
    if (s.rfind(prefix, 0) == 0) return true;
  return false;
}

const std::string diskAdvice =
    "Disk is low: tell the owner; avoid large downloads/builds; call disk_usage (grew_recently: "
    "what took the space lately; advice: what can safely go) and cleanup_preview, then ask with "
    "suggest_cleanup; never delete files yourself.";
const std::string simulatorAdvice =
    "The iOS Simulator looks hung (its processes are stuck in the kernel), which slows the whole "
    "Mac: do not boot simulators or run UI tests; ask the owner to quit Simulator or run `xcrun "
    "simctl shutdown all` (if that hangs too, a restart fixes it).";
const std::string criticalAdvice =
    "Mac is critically loaded: start nothing heavy. Stop your own stale/runaway processes "
    "(kill_ai_process) and wait (wait_for_capacity).";
const std::string overloadedAdvice =
    "Mac is overloaded: do not start parallel builds, simulators or sub-agents; finish or stop "
    "running work first, or call wait_for_capacity.";

TEST(AdvisorAssess, IdleMachineHasCapacity) {
  auto a = judge(idleMachine());
  EXPECT_EQ(a.level, LoadLevel::ok);
  EXPECT_TRUE(a.reasons.empty());
  EXPECT_TRUE(a.reasonsRu.empty());
  // 9 free cores → 4 by CPU; 8 performance cores cap; memory allows 10.
  EXPECT_EQ(a.recommendedParallelJobs, 4);
  EXPECT_EQ(a.recommendedBuildThreads, 9);
  EXPECT_EQ(a.advice,
            Strings{"Capacity available: up to 4 heavy job(s) in parallel, 9 build thread(s)."});
  EXPECT_TRUE(a.quitCandidates.empty());
  EXPECT_TRUE(a.heavyAITasks.empty());
  EXPECT_TRUE(a.hungProcesses.empty());
}

// Judges `m` and checks its level and both reason lists.
void expectJudged(const SystemMetrics& m, LoadLevel level, const Strings& reasons,
                  const Strings& reasonsRu) {
  auto a = judge(m);
  EXPECT_EQ(a.level, level);
  EXPECT_EQ(a.reasons, reasons);
  EXPECT_EQ(a.reasonsRu, reasonsRu);
}

using L = LoadLevel;

TEST(AdvisorAssess, CpuAndRunQueueRules) {
  struct Case {
    double usage, load;
    LoadLevel level;
    Strings reasons, reasonsRu;
  };
  const std::string q41 = "load average 41 on 10 cores: many processes waiting (often hung I/O)";
  const std::string q41Ru = "очередь 41 процессов на 10 ядер";
  // clang-format off
  const Case cases[] = {
      {0.97, 30, L::critical, {"CPU saturated: 97% used, load 30.0 on 10 cores"}, {"процессор забит: 97%"}},
      // A saturated CPU is not also reported as a long queue.
      {0.96, 45.25, L::critical, {"CPU saturated: 96% used, load 45.2 on 10 cores"}, {"процессор забит: 96%"}},
      // Load at exactly twice the cores is not saturation.
      {0.97, 20, L::overloaded, {"CPU 97% used"}, {"процессор 97%"}},
      // At exactly 0.95 the run-queue rule is allowed to fire as well.
      {0.95, 41.9, L::overloaded, {"CPU 95% used", q41}, {"процессор 95%", q41Ru}},
      {0.851, 1, L::overloaded, {"CPU 85% used"}, {"процессор 85%"}},
      {0.85, 1, L::busy, {"CPU 85% used"}, {"процессор 85%"}},
      {0.875, 1, L::overloaded, {"CPU 88% used"}, {"процессор 88%"}},
      {0.6001, 1, L::busy, {"CPU 60% used"}, {"процессор 60%"}},
      {0.6, 1, L::ok, {}, {}},
      {0.5, 41, L::overloaded, {q41}, {q41Ru}},
      {0.5, 40, L::ok, {}, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "usage " << c.usage << " load " << c.load);
    auto m = idleMachine();
    m.cpu.usage = c.usage;
    m.cpu.loadAverage1m = c.load;
    m.cpu.freeCores = (1 - c.usage) * 10;
    expectJudged(m, c.level, c.reasons, c.reasonsRu);
  }
}

TEST(AdvisorAssess, MemoryRules) {
  struct Case {
    std::string pressure;
    uint64_t total, used;  // available is what is not used
    LoadLevel level;
    Strings reasons, reasonsRu;
  };
  // clang-format off
  const Case cases[] = {
      {"critical", 16 * GiB, 15 * GiB, L::critical, {"memory pressure critical"}, {"критическая нехватка памяти"}},
      // Pressure wins over the used share: one memory reason only.
      {"warning", 16 * GiB, 15 * GiB, L::overloaded, {"memory pressure warning"}, {"не хватает памяти"}},
      {"normal", 16 * GiB, 14 * GiB + 800 * MiB, L::busy, {"memory 92% used, 1.2 GB available"}, {"память занята на 92%"}},
      // Exactly 85% used is not enough; a byte more is.
      {"normal", 20 * GiB, 17 * GiB, L::ok, {}, {}},
      {"normal", 20 * GiB, 17 * GiB + 1, L::busy, {"memory 85% used, 3.0 GB available"}, {"память занята на 85%"}},
      // Unknown total memory counts as one byte and must not divide by zero.
      {"normal", 0, 0, L::ok, {}, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pressure + " " + std::to_string(c.used));
    auto m = idleMachine();
    m.memory.totalBytes = c.total;
    m.memory.usedBytes = c.used;
    m.memory.availableBytes = c.total - c.used;
    m.memory.pressure = c.pressure;
    expectJudged(m, c.level, c.reasons, c.reasonsRu);
  }
}

TEST(AdvisorAssess, SwapAndThermalRules) {
  struct Case {
    double swap;
    std::string thermal;
    LoadLevel level;
    Strings reasons, reasonsRu;
  };
  // clang-format off
  const Case cases[] = {
      // Just above the line fires the heavy row, shown truncated.
      {500.9, "nominal", L::overloaded, {"swapping heavily (500 pages/s)"}, {"активная запись в своп"}},
      {500, "nominal", L::busy, {"swapping (500 pages/s)"}, {"запись в своп"}},
      {50.5, "nominal", L::busy, {"swapping (50 pages/s)"}, {"запись в своп"}},
      {50, "nominal", L::ok, {}, {}},
      {0, "critical", L::critical, {"thermal state critical, CPU is throttled"}, {"перегрев, частота сильно снижена"}},
      {0, "serious", L::overloaded, {"thermal state serious, CPU is throttled"}, {"горячий, частота снижена"}},
      {0, "fair", L::busy, {"thermal state fair"}, {"тёплый"}},
      {0, "unknown", L::ok, {}, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.swap << " " << c.thermal);
    auto m = idleMachine();
    m.memory.swapOutsPerSecond = c.swap;
    m.thermalState = c.thermal;
    expectJudged(m, c.level, c.reasons, c.reasonsRu);
  }
}

TEST(AdvisorAssess, HungRulesAndAdvice) {
  struct Case {
    Strings hung;
    LoadLevel level;
    Strings reasons, reasonsRu;
    std::string hungAdvice;  // empty: neither hung advice
  };
  const std::string sixHung =
      "Processes hung in the kernel: a, b, c, d, e, f. Usually a stuck disk image or network "
      "volume; avoid touching it.";
  // clang-format off
  const Case cases[] = {
      // A simulator name sets the flag whatever the count.
      {{"launchd_sim", "mds"}, L::ok, {}, {}, simulatorAdvice},
      {{"simdiskimaged"}, L::ok, {}, {}, simulatorAdvice},
      {{"a", "b", "c", "d", "e", "f", "g", "h"}, L::overloaded, {"8 processes hung in the kernel"},
       {"8 процессов зависли"}, sixHung},
      {{"a", "b", "SimulatorTrampoline_sim"}, L::overloaded, {"3 processes hung in the kernel (iOS Simulator)"},
       {"3 процессов зависли (iOS Simulator)"}, simulatorAdvice},
      // Only the exact suffix or the exact daemon name mean the simulator.
      {{"launchd_sim_helper", "simdiskimaged2"}, L::ok, {}, {}, ""},
      {{"a", "b"}, L::ok, {}, {}, ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hung.front());
    auto a = judge(idleMachine(), c.hung);
    EXPECT_EQ(a.level, c.level);
    EXPECT_EQ(a.reasons, c.reasons);
    EXPECT_EQ(a.reasonsRu, c.reasonsRu);
    // The list is kept whole even where the advice names only six.
    EXPECT_EQ(a.hungProcesses, c.hung);
    const bool anyHungAdvice = hasAdviceStartingWith(a, "The iOS Simulator looks hung") ||
                               hasAdviceStartingWith(a, "Processes hung in the kernel");
    if (c.hungAdvice.empty()) {
      EXPECT_FALSE(anyHungAdvice);
    } else {
      ASSERT_GE(a.advice.size(), 2u);
      EXPECT_EQ(a.advice[1], c.hungAdvice);
      EXPECT_EQ(a.advice.size(), 2u);  // never both hung sentences
    }
  }
}

TEST(AdvisorAssess, DiskRules) {
  struct Case {
    double freeBytes;
    LoadLevel level;
    Strings reasons, reasonsRu;
    bool diskAdviceGiven;
  };
  const double gb = static_cast<double>(GiB);
  // clang-format off
  const Case cases[] = {
      // One decimal rounds up while the Russian whole number is cut.
      {4.99 * gb, L::critical, {"boot disk almost full: 5.0 GB free"}, {"диск почти заполнен: 4 ГБ"}, true},
      {5 * gb, L::overloaded, {"boot disk low: 5.0 GB free"}, {"мало места на диске: 5 ГБ"}, true},
      {14.96 * gb, L::overloaded, {"boot disk low: 15.0 GB free"}, {"мало места на диске: 14 ГБ"}, true},
      {15 * gb, L::busy, {"boot disk 15.0 GB free"}, {"на диске 15 ГБ"}, true},
      {29.9 * gb, L::busy, {"boot disk 29.9 GB free"}, {"на диске 29 ГБ"}, true},
      {30 * gb, L::ok, {}, {}, false},
      // A nonsensical negative figure reads as a full disk, not as "-0.0".
      {-1, L::critical, {"boot disk almost full: 0.0 GB free"}, {"диск почти заполнен: 0 ГБ"}, true},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freeBytes / gb);
    auto a = judge(withFreeBytes(idleMachine(), c.freeBytes));
    EXPECT_EQ(a.level, c.level);
    EXPECT_EQ(a.reasons, c.reasons);
    EXPECT_EQ(a.reasonsRu, c.reasonsRu);
    EXPECT_EQ(std::count(a.advice.begin(), a.advice.end(), diskAdvice), c.diskAdviceGiven ? 1 : 0);
  }
}

TEST(AdvisorAssess, DiskIsTheBootVolume) {
  auto m = idleMachine();
  // "/" counts even when listed after another volume.
  m.volumes = {
      {"/Volumes/Backup", "Backup", static_cast<int64_t>(100 * GiB), static_cast<int64_t>(2 * GiB)},
      {"/", "Macintosh HD", static_cast<int64_t>(100 * GiB), static_cast<int64_t>(60 * GiB)}};
  EXPECT_TRUE(judge(m).reasons.empty());

  // Without "/", the first volume stands in for it.
  m.volumes.pop_back();
  EXPECT_EQ(judge(m).reasons, Strings{"boot disk almost full: 2.0 GB free"});

  // No volume at all: treated as a full disk.
  m.volumes.clear();
  auto a = judge(m);
  EXPECT_EQ(a.level, LoadLevel::critical);
  EXPECT_EQ(a.reasons, Strings{"boot disk almost full: 0.0 GB free"});
  EXPECT_EQ(std::count(a.advice.begin(), a.advice.end(), diskAdvice), 1);
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
  EXPECT_EQ(a.reasonsRu,
            (Strings{"процессор 90%", "не хватает памяти", "запись в своп",
                     "перегрев, частота сильно снижена", "очередь 50 процессов на 10 ядер",
                     "3 процессов зависли", "на диске 20 ГБ"}));
  EXPECT_EQ(a.recommendedParallelJobs, 0);
  EXPECT_EQ(a.recommendedBuildThreads, 1);
  EXPECT_EQ(a.advice,
            (Strings{criticalAdvice, diskAdvice,
                     "Processes hung in the kernel: mount_smbfs, fsck_apfs, diskimages-helper. "
                     "Usually a stuck disk image or network volume; avoid touching it.",
                     "Low Power Mode is on: CPU is slower than usual."}));
}

TEST(AdvisorAssess, JobsAndThreads) {
  struct Case {
    const char* what;
    std::string thermal;  // sets the level without touching the figures
    double freeCores;
    int64_t cores;
    int64_t perf;
    uint64_t available;
    uint64_t cached;
    int64_t jobs;
    int64_t threads;
  };
  const uint64_t job = 2560 * MiB;  // memory for one job
  const Case cases[] = {
      {"ok, capped by performance cores", "nominal", 9, 10, 3, 100 * GiB, 0, 3, 9},
      {"ok, capped by memory", "nominal", 9, 10, 8, 2 * job, 0, 2, 9},
      {"memory just short of one job", "nominal", 9, 10, 8, job - 1, 0, 1, 9},
      {"half the cache counts", "nominal", 9, 10, 8, job, 2 * job, 2, 9},
      {"ok never below one job", "nominal", 0.4, 10, 8, 0, 0, 1, 1},
      {"no performance-core count caps at one", "nominal", 9, 10, 0, 100 * GiB, 0, 1, 9},
      {"busy never below one job", "fair", 1.9, 10, 8, 100 * GiB, 0, 1, 2},
      {"busy keeps raw", "fair", 6, 10, 8, 100 * GiB, 0, 3, 6},
      {"overloaded with raw 0", "serious", 1.5, 10, 8, 100 * GiB, 0, 0, 2},
      {"overloaded with raw 3", "serious", 6, 10, 8, 100 * GiB, 0, 1, 6},
      {"critical", "critical", 9, 10, 8, 100 * GiB, 0, 0, 1},
      {"threads round half away from zero", "nominal", 2.5, 10, 8, 100 * GiB, 0, 1, 3},
      {"threads just under a half", "nominal", 2.49, 10, 8, 100 * GiB, 0, 1, 2},
      {"threads at most the cores", "nominal", 12, 10, 8, 100 * GiB, 0, 6, 10},
      {"free cores unknown", "nominal", std::nan(""), 10, 8, 100 * GiB, 0, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto m = idleMachine();
    m.thermalState = c.thermal;
    m.cpu.freeCores = c.freeCores;
    m.cpu.logicalCores = c.cores;
    m.cpu.performanceCores = c.perf;
    m.memory.totalBytes = 256 * GiB;
    m.memory.usedBytes = 0;
    m.memory.availableBytes = c.available;
    m.memory.cachedBytes = c.cached;
    auto a = judge(m);
    EXPECT_EQ(a.recommendedParallelJobs, c.jobs);
    EXPECT_EQ(a.recommendedBuildThreads, c.threads);
  }
}

TEST(AdvisorAssess, LevelSentenceNamesJobsAndThreads) {
  auto m = idleMachine();
  m.thermalState = "fair";
  m.cpu.freeCores = 4;
  EXPECT_EQ(judge(m).advice.front(),
            "Mac is busy: run at most 2 heavy job(s) at a time; prefer sequential builds/tests.");
  m.thermalState = "serious";
  EXPECT_EQ(judge(m).advice.front(), overloadedAdvice);
  m.thermalState = "nominal";
  EXPECT_EQ(judge(m).advice.front(),
            "Capacity available: up to 2 heavy job(s) in parallel, 4 build thread(s).");
}

TEST(AdvisorAssess, QuitCandidatesFilter) {
  NorvoConfig config;
  config.neverSuggest = {"com.apple.Terminal", "com.owner.keep"};
  const std::vector<AppGroup> apps = {
      app("Mixed", 20, 1536 * MiB),  // by memory
      app("CpuEdge", 25, 0),         // exactly 25%
      app("MemEdge", 0, GiB),        // exactly 1 GB
      app("Light", 24.9, GiB - 1),   // neither
      app("Kept", 90, 4 * GiB, ProcessCategory::userApp, "com.owner.keep"),
      app("Listed", 90, 0, ProcessCategory::userApp, "com.owner.other"),
      app("Claude", 90, 4 * GiB, ProcessCategory::aiAgent),
      app("Ollama", 90, 4 * GiB, ProcessCategory::aiInfra),
      app("WindowServer", 90, 4 * GiB, ProcessCategory::system),
      app("Task", 90, 4 * GiB, ProcessCategory::aiTask),
      app("NanCpu", std::nan(""), 0),  // unknown CPU is not heavy
  };
  auto a = Advisor::assess(idleMachine(), apps, {}, {}, config);
  Strings names;
  for (const auto& g : a.quitCandidates) names.push_back(g.name);
  EXPECT_EQ(names, (Strings{"Mixed", "CpuEdge", "MemEdge", "Listed"}));
  // An ok machine lists them but does not advise about them.
  EXPECT_FALSE(hasAdviceStartingWith(a, "Heavy apps of the owner"));
}

TEST(AdvisorAssess, QuitCandidatesCapAndAdvice) {
  std::vector<AppGroup> apps = {app("Xcode", 45.3, static_cast<uint64_t>(2.1 * GiB)),
                                app("Safari", 30, 850 * MiB)};
  auto m = idleMachine();
  m.thermalState = "fair";
  auto a = judge(m, {}, apps);
  ASSERT_EQ(a.advice.size(), 2u);
  EXPECT_EQ(a.advice[1],
            "Heavy apps of the owner (not AI): Xcode (45.3% CPU, 2.1 GB), Safari (30.0% CPU, 850 "
            "MB). You may propose quitting them with suggest_quit_apps; never kill them yourself.");

  apps.clear();
  for (int i = 1; i <= 9; ++i) apps.push_back(app("App" + std::to_string(i), 30, GiB - 1));
  a = judge(m, {}, apps);
  ASSERT_EQ(a.quitCandidates.size(), 8u);
  EXPECT_EQ(a.quitCandidates.front().name, "App1");
  EXPECT_EQ(a.quitCandidates.back().name, "App8");
  EXPECT_EQ(a.advice[1],
            "Heavy apps of the owner (not AI): App1 (30.0% CPU, 1023 MB), App2 (30.0% CPU, 1023 "
            "MB), App3 (30.0% CPU, 1023 MB), App4 (30.0% CPU, 1023 MB), App5 (30.0% CPU, 1023 MB). "
            "You may propose quitting them with suggest_quit_apps; never kill them yourself.");
}

TEST(AdvisorAssess, HeavyAITasks) {
  std::vector<ProcessSample> tasks = {task(1, 25, 0), task(2, 24.9, 512 * MiB - 1),
                                      task(3, 0, 512 * MiB), task(4, std::nan(""), 0)};
  auto a = judge(idleMachine(), {}, {}, tasks);
  ASSERT_EQ(a.heavyAITasks.size(), 2u);
  EXPECT_EQ(a.heavyAITasks[0].pid, 1);
  EXPECT_EQ(a.heavyAITasks[1].pid, 3);

  tasks.clear();
  for (int pid = 1; pid <= 12; ++pid) tasks.push_back(task(pid, 99, 0));
  a = judge(idleMachine(), {}, {}, tasks);
  ASSERT_EQ(a.heavyAITasks.size(), 10u);
  EXPECT_EQ(a.heavyAITasks.front().pid, 1);
  EXPECT_EQ(a.heavyAITasks.back().pid, 10);
}

TEST(AdvisorAssess, AdviceOrder) {
  auto m = withFreeBytes(idleMachine(), 10.0 * GiB);
  m.lowPowerMode = true;
  auto a = judge(m, {"launchd_sim"}, {app("Xcode", 50, 0)});
  EXPECT_EQ(a.level, LoadLevel::overloaded);
  ASSERT_EQ(a.advice.size(), 5u);
  EXPECT_EQ(a.advice[0], overloadedAdvice);
  EXPECT_EQ(a.advice[1],
            "Heavy apps of the owner (not AI): Xcode (50.0% CPU, 0 MB). You may propose quitting "
            "them with suggest_quit_apps; never kill them yourself.");
  EXPECT_EQ(a.advice[2], diskAdvice);
  EXPECT_EQ(a.advice[3], simulatorAdvice);
  EXPECT_EQ(a.advice[4], "Low Power Mode is on: CPU is slower than usual.");
}

// Figures that cannot come from a real reading must neither crash the
// judgement nor leak "nan" or "inf" into a sentence.
TEST(AdvisorAssess, NonFiniteFiguresReadAsZero) {
  struct Case {
    const char* what;
    double usage, load, swap, freeCores;
    LoadLevel level;
    Strings reasons;
  };
  const double nan = std::nan(""), inf = HUGE_VAL;
  const std::string waiting = " on 10 cores: many processes waiting (often hung I/O)";
  // clang-format off
  const Case cases[] = {
      {"usage nan", nan, 1.5, 0, 9, L::ok, {}},
      {"usage inf", inf, 100, 0, 9, L::overloaded, {"load average 100" + waiting}},
      {"load inf", 0.99, inf, 0, 9, L::overloaded, {"CPU 99% used"}},
      {"load -inf", 0.1, -inf, 0, 9, L::ok, {}},
      {"swap nan", 0.1, 1.5, nan, 9, L::ok, {}},
      {"swap inf", 0.1, 1.5, inf, 9, L::ok, {}},
      {"free cores nan", 0.1, 1.5, 0, nan, L::ok, {}},
      {"huge load", 0.1, 1e300, 0, 9, L::overloaded, {"load average 9223372036854775807" + waiting}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto m = idleMachine();
    m.cpu.usage = c.usage;
    m.cpu.loadAverage1m = c.load;
    m.memory.swapOutsPerSecond = c.swap;
    m.cpu.freeCores = c.freeCores;
    auto a = judge(m, {}, {app("Odd", HUGE_VAL, 2 * GiB)}, {task(7, std::nan(""), GiB)});
    EXPECT_EQ(a.level, c.level);
    EXPECT_EQ(a.reasons, c.reasons);
    EXPECT_EQ(a.reasons.size(), a.reasonsRu.size());
    EXPECT_GE(a.recommendedBuildThreads, 1);
    EXPECT_GE(a.recommendedParallelJobs, 0);
    Strings texts = a.reasons;
    texts.insert(texts.end(), a.reasonsRu.begin(), a.reasonsRu.end());
    texts.insert(texts.end(), a.advice.begin(), a.advice.end());
    for (const auto& t : texts) {
      EXPECT_EQ(t.find("nan"), std::string::npos) << t;
      EXPECT_EQ(t.find("inf"), std::string::npos) << t;
    }
    EXPECT_FALSE(json_codec::encode(nlohmann::json(a)).empty());
  }
}

TEST(AdvisorImpact, ShareOfTheMachine) {
  auto m = idleMachine();
  m.cpu.logicalCores = 10;
  m.memory.totalBytes = 10 * GiB;
  EXPECT_DOUBLE_EQ(Advisor::impact(100, GiB, m), 0.2);
  EXPECT_DOUBLE_EQ(Advisor::impact(500, 0, m), 0.5);
  // Unknown cores: one core's worth.
  m.cpu.logicalCores = 0;
  EXPECT_DOUBLE_EQ(Advisor::impact(50, 0, m), 0.5);
  m.cpu.logicalCores = -4;
  EXPECT_DOUBLE_EQ(Advisor::impact(50, 0, m), 0.5);
  // Unknown memory: one byte, so any memory dominates but stays finite.
  m.memory.totalBytes = 0;
  EXPECT_DOUBLE_EQ(Advisor::impact(0, 3, m), 3.0);
  EXPECT_DOUBLE_EQ(Advisor::impact(std::nan(""), 3, m), 3.0);
}

}  // namespace
}  // namespace norvo
