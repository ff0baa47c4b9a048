#include "core/sampling/sampler.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "measure/fake_process_source.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

ProcessSample sample(int32_t pid, double cpu, uint64_t memory) {
  ProcessSample s;
  s.pid = pid;
  s.cpuPercent = cpu;
  s.memoryBytes = memory;
  return s;
}

TEST(SamplerRules, HeaviestByCpuOrMemoryListedOnceInWeightOrder) {
  std::vector<ProcessSample> sorted;
  // 40 samples: pids 1..20 heavy on CPU, 21..40 heavy on memory, one both.
  for (int i = 1; i <= 20; ++i) sorted.push_back(sample(i, 100.0 - i, 0));
  for (int i = 21; i <= 40; ++i) sorted.push_back(sample(i, 0, uint64_t(1000 - i)));
  sorted[0].memoryBytes = 5000;  // pid 1 is first on both axes
  auto chosen = Sampler::heaviest(sorted, 15);
  // 15 by CPU (1..15) and 15 by memory (1, 21..34): pid 1 is counted once.
  ASSERT_EQ(chosen.size(), 29u);
  EXPECT_EQ(chosen.front().pid, 1);
  std::set<int32_t> pids;
  for (const auto& s : chosen) pids.insert(s.pid);
  EXPECT_EQ(pids.size(), chosen.size());
  EXPECT_TRUE(pids.count(15));
  EXPECT_FALSE(pids.count(16));
  EXPECT_TRUE(pids.count(34));
  EXPECT_FALSE(pids.count(35));
  // Weight order is kept: the list is a subsequence of the input.
  for (size_t i = 1; i < chosen.size(); ++i) {
    auto pos = [&](int32_t pid) {
      return std::find_if(sorted.begin(), sorted.end(), [&](auto& s) { return s.pid == pid; });
    };
    EXPECT_LT(pos(chosen[i - 1].pid), pos(chosen[i].pid));
  }
  EXPECT_TRUE(Sampler::heaviest({}, 15).empty());
}

TEST(SamplerRules, WeightAndLineageWrites) {
  SystemMetrics m;
  m.cpu.logicalCores = 0;   // counts as one core's 100 %
  m.memory.totalBytes = 0;  // counts as 1 byte
  EXPECT_DOUBLE_EQ(Sampler::weight(sample(1, 50, 0), m), 0.5);
  m.cpu.logicalCores = 4;
  m.memory.totalBytes = 1000;
  EXPECT_DOUBLE_EQ(Sampler::weight(sample(1, 200, 250), m), 0.75);

  Lineage none, one{{"10:100", 7}};
  EXPECT_FALSE(Sampler::shouldWriteLineage(one, one, true));
  EXPECT_TRUE(Sampler::shouldWriteLineage(none, one, false));
  EXPECT_TRUE(Sampler::shouldWriteLineage(one, none, true));
  EXPECT_FALSE(Sampler::shouldWriteLineage(none, none, false));
  // An empty lineage never creates the file, even after a corrupt one read as empty.
  EXPECT_FALSE(Sampler::shouldWriteLineage(one, none, false));
}

// A fake machine: one agent with 45 tasks and nothing else.
struct FakeMachine {
  test::TempDir store;
  std::shared_ptr<test::FakeProcessSource> source = std::make_shared<test::FakeProcessSource>();
  ProcessTable table{source, store.path()};

  Sampler sampler() {
    Sampler::Environment env;
    env.table = &table;
    env.roots = platform::Roots::under(test::fixture("linux/hybrid_laptop"));
    env.storeDirectory = store.path();
    env.selfPid = 2;
    env.readController = false;
    return Sampler(NorvoConfig::defaults(), env);
  }
};

TEST(Sampler, FirstTickHasNoRatesAndCapsKeepTheHeaviest) {
  FakeMachine m;
  m.source->add(2, 1000, "zemnorvo");
  m.source->add(100, 1000, "claude");
  for (int i = 0; i < 45; ++i) m.source->add(200 + i, 1000, "cc1plus", 1000, 100);
  m.source->setState(243, 'Z');
  m.source->setState(207, 'Z');
  auto sampler = m.sampler();
  auto first = sampler.sample();
  ASSERT_TRUE(first.zombies.has_value());
  EXPECT_EQ(*first.zombies, (ZombieReport{2, {{100, "claude", 2}}}));
  EXPECT_EQ(first.metrics.cpu.usage, 0);
  for (const auto& p : first.processes) EXPECT_EQ(p.cpuPercent, 0) << p.pid;
  ASSERT_TRUE(first.longCPU.has_value());
  EXPECT_TRUE(first.longCPU->empty());
  ASSERT_TRUE(first.sensors.has_value());
  ASSERT_TRUE(first.health.has_value());

  ASSERT_EQ(first.aiTasks.size(), 40u);
  EXPECT_EQ(sampler.lastSamples().size(), 47u);
  EXPECT_LE(first.processes.size(), 30u);
  // Heaviest first: the fake gives bigger pids more memory.
  EXPECT_EQ(first.aiTasks.front().pid, 244);
  for (const auto& t : first.aiTasks) {
    EXPECT_EQ(t.category, ProcessCategory::aiTask);
    EXPECT_EQ(t.agentPid, 100);
  }
  // Every task's agent is remembered on disk.
  auto lineage = Sampler::loadLineage(m.store.path());
  ASSERT_TRUE(lineage.has_value());
  EXPECT_EQ(lineage->size(), 45u);
  EXPECT_EQ(lineage->at("200:1000"), 100);
}

TEST(Sampler, NoLineageFileWithoutAgentTasksAndCorruptOneIsKept) {
  FakeMachine m;
  m.source->add(2, 1000, "zemnorvo");
  m.source->add(50, 1000, "bash");
  auto sampler = m.sampler();
  sampler.sample();
  EXPECT_FALSE(fs::exists(m.store.path() / "lineage.json"));
  m.store.write("../" + m.store.path().filename().string() + "/lineage.json", "{broken");
  sampler.sample();
  // Read as empty, and an empty lineage has nothing new to say.
  EXPECT_EQ(test::readFile(m.store.path() / "lineage.json"), "{broken");
}

TEST(Sampler, MeasureWaitsAtLeastATenthOfASecond) {
  FakeMachine m;
  m.source->add(2, 1000, "zemnorvo");
  Sampler::Environment env;
  env.table = &m.table;
  env.storeDirectory = m.store.path();
  env.readController = false;
  auto start = std::chrono::steady_clock::now();
  auto snapshot = Sampler::measure(0, NorvoConfig::defaults(), env);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_GE(snapshot.metrics.sampleSeconds, 0.1);
}

// A real agent starts a task and exits; the next tick still knows the task
// as the old agent's orphan because the lineage file remembers it.
TEST(SamplerRealProcesses, AnUnreapedChildCountsAsAZombieOfThisProcess) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  struct Reap {
    pid_t pid;
    ~Reap() { ::waitpid(pid, nullptr, 0); }
  } reap{child};
  test::TempDir store;
  Sampler::Environment env;
  env.storeDirectory = store.path();
  Sampler sampler(NorvoConfig::defaults(), env);
  int64_t mine = 0;
  for (int attempt = 0; attempt < 100 && mine == 0; ++attempt) {
    auto snapshot = sampler.sample();
    for (const auto& p : snapshot.zombies->parents)
      if (p.pid == ::getpid()) mine = p.count;
    if (mine == 0) std::this_thread::sleep_for(20ms);
  }
  EXPECT_GE(mine, 1);
}

TEST(SamplerRealProcesses, OrphanedTaskKeepsItsAgentThroughTheLineage) {
  test::TempDir dir;
  auto claude = test::copyProgram("/bin/sh", dir.path() / "claude");
  auto compiler = test::copyProgram("/bin/sleep", dir.path() / "cc1plus");
  test::Processes processes;
  test::TempDir store;
  ProcessTable table(platform::makeProcessSource(platform::Roots::system()), store.path());
  Sampler::Environment env;
  env.table = &table;
  env.storeDirectory = store.path();
  Sampler sampler(NorvoConfig::defaults(), env);

  pid_t agent = processes.start({"claude", "-c", "\"$1\" 600 & wait", "claude", compiler}, claude);
  ASSERT_GT(agent, 0);
  std::optional<ProcessSample> task;
  for (int attempt = 0; attempt < 100 && !task; ++attempt) {
    auto snapshot = sampler.sample();
    for (const auto& s : snapshot.aiTasks)
      if (s.ppid == agent && s.name == "cc1plus") task = s;
    if (!task) std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(task.has_value());
  EXPECT_EQ(task->agentPid, agent);
  EXPECT_FALSE(task->orphaned);

  ::kill(agent, SIGKILL);
  ::waitpid(agent, nullptr, 0);
  // A fresh sampler, as after a restart of the loop: only the file remembers.
  Sampler restarted(NorvoConfig::defaults(), env);
  std::optional<ProcessSample> orphan;
  for (int attempt = 0; attempt < 100 && !orphan; ++attempt) {
    auto snapshot = restarted.sample();
    for (const auto& s : snapshot.aiTasks)
      if (s.pid == task->pid && s.ppid != agent) orphan = s;
    if (!orphan) std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(orphan.has_value());
  EXPECT_EQ(orphan->category, ProcessCategory::aiTask);
  EXPECT_EQ(orphan->agentPid, agent);
  EXPECT_TRUE(orphan->orphaned);
}

}  // namespace
}  // namespace norvo
