#include "core/sampling/sampler.hpp"

#include <gtest/gtest.h>

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
  // Pids 1..20 heavy on CPU, 21..40 heavy on memory; pid 1 first on both.
  std::vector<ProcessSample> sorted;
  for (int i = 1; i <= 20; ++i) sorted.push_back(sample(i, 100.0 - i, i == 1 ? 5000 : 0));
  for (int i = 21; i <= 40; ++i) sorted.push_back(sample(i, 0, uint64_t(1000 - i)));
  // 15 by CPU (1..15) and 15 by memory (1, 21..34), pid 1 once, in input order.
  std::vector<int32_t> expected;
  for (int i = 1; i <= 15; ++i) expected.push_back(i);
  for (int i = 21; i <= 34; ++i) expected.push_back(i);
  std::vector<int32_t> chosen;
  for (const auto& s : Sampler::heaviest(sorted, 15)) chosen.push_back(s.pid);
  EXPECT_EQ(chosen, expected);
  EXPECT_TRUE(Sampler::heaviest({}, 15).empty());
}

TEST(SamplerRules, WeightAndLineageWrites) {
  SystemMetrics m;  // no cores and no memory count as one core and one byte
  EXPECT_DOUBLE_EQ(Sampler::weight(sample(1, 50, 0), m), 0.5);
  m.cpu.logicalCores = 4;
  m.memory.totalBytes = 1000;
  EXPECT_DOUBLE_EQ(Sampler::weight(sample(1, 200, 250), m), 0.75);
  // A first lineage is written, and none written without agent tasks: the ticks below.
  Lineage none, one{{"10:100", 7}};
  EXPECT_FALSE(Sampler::shouldWriteLineage(one, one, true));
  EXPECT_TRUE(Sampler::shouldWriteLineage(one, none, true));
  // An empty lineage never creates the file, even after a corrupt one read as empty.
  EXPECT_FALSE(Sampler::shouldWriteLineage(one, none, false));
}

// A fake machine: this tool (pid 2), one agent with 45 tasks, nothing else.
struct FakeMachine {
  test::TempDir store;
  std::shared_ptr<test::FakeProcessSource> source = std::make_shared<test::FakeProcessSource>();
  ProcessTable table{source, store.path()};
  Sampler::Environment env() {
    Sampler::Environment env;
    env.table = &table;
    env.roots = platform::Roots::under(test::fixture("linux/hybrid_laptop"));
    env.storeDirectory = store.path();
    env.selfPid = 2;
    env.readController = false;
    return env;
  }
};

TEST(Sampler, FirstTickHasNoRatesAndCapsKeepTheHeaviest) {
  FakeMachine m;
  m.source->add(2, 1000, "zemnorvo");
  m.source->add(100, 1000, "claude");
  for (int i = 0; i < 45; ++i) m.source->add(200 + i, 1000, "cc1plus", 1000, 100);
  for (int32_t pid : {243, 207}) m.source->change(pid, [](auto& p) { p.basics.state = 'Z'; });
  Sampler sampler(NorvoConfig::defaults(), m.env());
  auto first = sampler.sample();
  EXPECT_EQ(first.zombies, (ZombieReport{2, {{100, "claude", 2}}}));
  EXPECT_EQ(first.metrics.cpu.usage, 0);
  for (const auto& p : first.processes) EXPECT_EQ(p.cpuPercent, 0) << p.pid;
  ASSERT_TRUE(first.longCPU.has_value());
  EXPECT_TRUE(first.longCPU->empty());
  ASSERT_EQ(first.aiTasks.size(), 40u);
  EXPECT_EQ(sampler.lastSamples().size(), 47u);
  EXPECT_LE(first.processes.size(), 30u);
  EXPECT_EQ(first.aiTasks.front().pid, 244);  // heaviest first: bigger pids have more memory
  for (const auto& t : first.aiTasks)
    EXPECT_EQ(std::pair(t.category, t.agentPid),
              std::pair(ProcessCategory::aiTask, std::optional<int32_t>(100)))
        << t.pid;
  // Every task's agent is remembered on disk.
  auto lineage = Sampler::loadLineage(m.store.path());
  ASSERT_TRUE(lineage.has_value());
  EXPECT_EQ(lineage->size(), 45u);
  EXPECT_EQ(lineage->at("200:1000"), 100);
}

TEST(Sampler, NoLineageFileWithoutAgentTasksAndACorruptOneIsKept) {
  FakeMachine m;
  m.source->add(2, 1000, "zemnorvo");
  m.source->add(50, 1000, "bash");
  Sampler sampler(NorvoConfig::defaults(), m.env());
  sampler.sample();
  EXPECT_FALSE(fs::exists(m.store.path() / "lineage.json"));
  m.store.write("lineage.json", "{broken");
  sampler.sample();  // read as empty, and an empty lineage has nothing new to say
  EXPECT_EQ(test::readFile(m.store.path() / "lineage.json"), "{broken");

  auto start = std::chrono::steady_clock::now();
  auto snapshot = Sampler::measure(0, NorvoConfig::defaults(), m.env());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms) << "at least a tenth of a second";
  EXPECT_GE(snapshot.metrics.sampleSeconds, 0.1);
}

}  // namespace
}  // namespace norvo
