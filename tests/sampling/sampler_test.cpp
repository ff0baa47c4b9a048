#include "core/sampling/sampler.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "core/sampling/metrics_server.hpp"
#include "core/sampling/sampling_loop.hpp"
#include "measure/fake_process_source.hpp"
#include "platform/local_http.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

ProcessSample sample(int32_t pid, double cpu, uint64_t memory) {
  return {pid, 0, "", "", "", cpu, memory, ProcessCategory::system, {}, {}, {}, false};
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
  EXPECT_EQ(first.longCPU, std::vector<LongCPUProcess>{});
  ASSERT_EQ(first.aiTasks.size(), 40u);
  EXPECT_EQ(sampler.lastSamples().size(), 47u);
  EXPECT_LE(first.processes.size(), 30u);
  EXPECT_EQ(first.aiTasks.front().pid, 244);  // heaviest first: bigger pids have more memory
  for (const auto& t : first.aiTasks)
    EXPECT_EQ(std::pair(t.category, t.agentPid),
              std::pair(ProcessCategory::aiTask, std::optional<int32_t>(100)))
        << t.pid;
  // Every task's agent is remembered on disk.
  auto lineage = Sampler::loadLineage(m.store.path()).value_or(Lineage{});
  EXPECT_EQ(lineage.size(), 45u);
  EXPECT_EQ(lineage["200:1000"], 100);
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

// The loop that runs a tick per interval.
using Clock = SamplingLoop::Clock;
const auto ignore = [](const std::string&) {};

TEST(SamplingLoopNextTick, KeepsThePhaseAndSkipsMissedSlots) {
  const Clock::time_point t0{};
  struct Case {
    const char* what;
    Clock::duration now, interval, expected;
  };
  for (const auto& c :
       std::vector<Case>{{"tick ended early: the next slot", 1s, 5s, 5s},
                         {"tick ended exactly on the slot: the one after", 5s, 5s, 10s},
                         {"overrun by a bit: one slot skipped", 6s, 5s, 10s},
                         {"long overrun landing on a slot: strictly after now", 500s, 5s, 505s},
                         {"zero interval is not a busy loop of the same slot", 0s, 0s, 1ms}})
    EXPECT_EQ(SamplingLoop::nextTick(t0, t0 + c.now, c.interval), t0 + c.expected) << c.what;
}

TEST(SamplingLoopRun, GoesOnAfterAThrowingTickAndReportsIt) {
  platform::StopSignal stop;
  int calls = 0;
  std::vector<std::string> reports;
  auto ran = SamplingLoop::run(
      [&] {
        if (++calls == 1) throw std::runtime_error("disk full");
        if (calls == 3) throw 42;
      },
      {1ms, 4}, stop, [&](const std::string& m) { reports.push_back(m); });
  EXPECT_EQ(ran, 4);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(reports, (std::vector<std::string>{"disk full", "unknown error"}));
}

// A signal in an hour-long wait ends it promptly: WatchCommand, end to end.
TEST(SamplingLoopRun, StopsAfterATickThatAsksForIt) {
  platform::StopSignal fromInside;
  int calls = 0;
  auto ran = SamplingLoop::run(
      [&] {
        if (++calls == 2) fromInside.request();
      },
      {1ms, std::nullopt}, fromInside, ignore);
  EXPECT_EQ(ran, 2);
}

TEST(SamplingLoopRun, AnOverrunningTickIsNotFollowedByABurst) {
  platform::StopSignal stop;
  std::vector<Clock::time_point> starts;
  SamplingLoop::run(
      [&] {
        starts.push_back(Clock::now());
        if (starts.size() == 1) std::this_thread::sleep_for(350ms);
      },
      {100ms, 3}, stop, ignore);
  ASSERT_EQ(starts.size(), 3u);
  // Slots at 100, 200 and 300 ms were missed; the next one is at 400 ms, and
  // the one after keeps the full interval.
  EXPECT_GE(starts[1] - starts[0], 395ms);
  EXPECT_GE(starts[2] - starts[1], 90ms);
}

// The loop's /metrics over a real socket (routing and content negotiation),
// and the listen addresses the owner may give.
TEST(MetricsServer, AnswersByPathMethodAndAcceptUntilDestroyed) {
  auto port = test::freePort();
  std::string error;
  auto server = MetricsServer::start(std::to_string(port), error);
  ASSERT_TRUE(server) << error;
  EXPECT_EQ(test::localRequest(port, "GET", "/metrics").status, 503);
  NorvoSnapshot snapshot;
  snapshot.assessment.recommendedBuildThreads = 6;
  server->publish(snapshot, {});

  struct Case {
    const char *method, *target, *accept;
    int status;
    const char* inHead;
  } cases[] = {
      {"GET", "/metrics?x=1", "", 200, "Content-Type: text/plain; version=0.0.4"},
      // What a real Prometheus asks for is PrometheusScrape's; a scraper that
      // knows only an older OpenMetrics gets the plain text.
      {"GET", "/metrics", "application/openmetrics-text; version=0.0.1, text/plain; q=0.1", 200,
       "Content-Type: text/plain; version=0.0.4"},
      {"POST", "/metrics", "", 405, "Allow: GET"},
      {"GET", "/metrics/x", "", 404, "Content-Type: text/plain"},
  };
  for (const auto& c : cases) {
    auto reply = test::localRequest(port, c.method, c.target, c.accept);
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.target;
    EXPECT_NE(reply.head.find(c.inHead), std::string::npos) << reply.head;
    EXPECT_EQ(reply.body.find("\nnorvo_recommended_build_threads 6\n") != std::string::npos,
              c.status == 200)
        << reply.body;
  }
  server.reset();
  EXPECT_EQ(test::localRequest(port, "GET", "/metrics").status, 0) << "still answering";
}

TEST(MetricsServer, ParsesListenAddresses) {
  // A bare port and a numeric host are PrometheusScrape's, end to end.
  std::pair<const char*, const char*> cases[] = {
      {"localhost:80", "127.0.0.1:80"},
      {"[::1]:9100", "[::1]:9100"},
      {"::1:9100", nullptr},
      {"[::1]9100", nullptr},
      {"9100x", nullptr},
      {"0", nullptr},
      {"65536", nullptr},
      {":9100", nullptr},
      {"", nullptr},
  };
  for (const auto& [text, described] : cases) {
    std::string error;
    auto address = platform::parseListenAddress(text, error);
    EXPECT_EQ(address ? platform::describe(*address) : "", described ? described : "") << text;
    EXPECT_EQ(error.empty(), address.has_value()) << text;
  }
}

}  // namespace
}  // namespace norvo
