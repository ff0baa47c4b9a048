#include "core/measure/process_table.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/platform/record_file.hpp"
#include "measure/fake_process_source.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;
using HungMarks = std::map<std::string, NorvoStore::HungMark>;
using test::FakeProcessSource;

// A clock the test moves by hand; read from worker threads too.
struct ManualClock {
  std::shared_ptr<std::atomic<int64_t>> seconds = std::make_shared<std::atomic<int64_t>>(0);
  Date base = Date(std::chrono::seconds(1'800'000'000));
  ProcessTable::Clock clock() const {
    return [s = seconds, b = base] { return b + std::chrono::seconds(s->load()); };
  }
  Date now() const { return base + std::chrono::seconds(seconds->load()); }
  void advance(int64_t by) { *seconds += by; }
};

struct TableFixture {
  test::TempDir store;
  std::shared_ptr<FakeProcessSource> source = std::make_shared<FakeProcessSource>();
  ManualClock clock;
  std::unique_ptr<ProcessTable> table =
      std::make_unique<ProcessTable>(source, store.path(), clock.clock());
  std::filesystem::path hungFile() const { return store.path() / "hung-v2.json"; }
  HungMarks storedMarks() const {
    return record_file::read<HungMarks>(hungFile()).value_or(HungMarks{});
  }
};

// Waits (briefly) until a work item that was stuck has run to its end.
void waitForUsage(const FakeProcessSource& source, int32_t pid) {
  for (int i = 0; i < 500 && source.usageCalls(pid) == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_GT(source.usageCalls(pid), 0);
}

TEST(ProcessTableRead, CompletesReadingsAndCachesCommandLinesPerProcessKey) {
  TableFixture f;
  f.source->add(10, 500, "editor");
  f.source->add(11, 500, "someone-elses", /*uid=*/0);
  auto readings = f.table->read(5s);
  ASSERT_EQ(readings.size(), 2u);
  const auto& own = readings.at(10);
  EXPECT_EQ(own.path, "/opt/editor");
  EXPECT_EQ(own.arguments, "/opt/editor --flag");
  EXPECT_EQ(own.cpuNanos, 10000u);
  EXPECT_EQ(own.footprintBytes, 40960u);
  EXPECT_EQ(own.responsiblePid, 10);
  EXPECT_EQ(own.key(), "10:500");
  // Another user's process: no command line is even asked for, usage still is.
  const auto& other = readings.at(11);
  EXPECT_EQ(other.path, "");
  EXPECT_EQ(other.name, "someone-elses");
  EXPECT_EQ(other.cpuNanos, 11000u);
  EXPECT_EQ(f.source->commandLineCalls(11), 0);

  f.table->read(5s);
  EXPECT_EQ(f.source->commandLineCalls(10), 1);  // cached for the same key
  EXPECT_EQ(f.source->usageCalls(10), 2);        // usage is read every time

  // The pid is reused by a new process: a new key, read afresh.
  f.source->add(10, 900, "compiler");
  readings = f.table->read(5s);
  EXPECT_EQ(f.source->commandLineCalls(10), 2);
  EXPECT_EQ(readings.at(10).name, "compiler");

  // The single-process read never uses the cache.
  auto single = f.table->read(10);
  ASSERT_TRUE(single.has_value());
  EXPECT_EQ(single->path, "/opt/compiler");
  EXPECT_EQ(f.source->commandLineCalls(10), 3);
  EXPECT_FALSE(f.table->read(77).has_value());
  auto cheap = f.table->basic(10);
  ASSERT_TRUE(cheap.has_value());
  EXPECT_EQ(cheap->path, "");
  EXPECT_FALSE(cheap->cpuNanos.has_value());
}

TEST(ProcessTableRead, MemoryOfAProcessThatHasNotRunIsCarriedForHalfAMinute) {
  TableFixture f;
  f.source->add(10, 500, "idle");
  f.source->setUsage(10, 7'000'000, 1 << 20);
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 1u << 20);

  // Not run since: the memory is the last one read, without asking again.
  f.source->setUsage(10, 7'000'000, 5 << 20);
  f.clock.advance(29);
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 1u << 20);
  EXPECT_EQ(f.source->usageCalls(10), 1);

  // Too old now: read again.
  f.clock.advance(2);
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 5u << 20);
  EXPECT_EQ(f.source->usageCalls(10), 2);

  // Ran, however little: read again at once.
  f.source->setUsage(10, 8'000'000, 9 << 20);
  auto reading = f.table->read(5s).at(10);
  EXPECT_EQ(reading.footprintBytes, 9u << 20);
  EXPECT_EQ(reading.cpuNanos, 8'000'000u);
  EXPECT_EQ(f.source->usageCalls(10), 3);

  // A clock set back does not make an old reading look fresh forever.
  f.clock.advance(-3600);
  f.table->read(5s);
  EXPECT_EQ(f.source->usageCalls(10), 4);
}

TEST(ProcessTableRead, StuckReadIsMarkedHungSkippedAndRewrittenAtMostEveryMinute) {
  TableFixture f;
  f.source->add(20, 700, "stuck");
  f.source->block(20);

  auto started = std::chrono::steady_clock::now();
  auto readings = f.table->read(300ms);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_EQ(readings.at(20).path, "");  // cheap values only
  EXPECT_FALSE(readings.at(20).cpuNanos.has_value());
  EXPECT_TRUE(f.table->hung().empty());  // in flight, but not yet for 5 s
  EXPECT_FALSE(std::filesystem::exists(f.hungFile()));

  f.clock.advance(5);
  f.source->add(21, 700, "healthy");
  readings = f.table->read(2s);
  EXPECT_EQ(readings.at(21).path, "/opt/healthy");
  EXPECT_EQ(f.table->hung(), (std::map<std::string, std::string>{{"20:700", "stuck"}}));
  auto marks = f.storedMarks();
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks.at("20:700").name, "stuck");
  EXPECT_EQ(marks.at("20:700").since, f.clock.base);
  EXPECT_EQ(f.source->commandLineCalls(20), 1);  // skipped, not read again

  // Same marks, still hung: the file is not rewritten within a minute…
  record_file::write(HungMarks{{"20:700", {"renamed", f.clock.base}}}, f.hungFile());
  f.clock.advance(30);
  f.table->read(2s);
  EXPECT_EQ(f.storedMarks().at("20:700").name, "renamed");
  // …but is after more than 60 seconds.
  f.clock.advance(31);
  f.table->read(2s);
  EXPECT_EQ(f.storedMarks().at("20:700").name, "stuck");

  // Released: the late item finishes in the background; the mark still keeps
  // the process out until it expires.
  f.source->release();
  waitForUsage(*f.source, 20);
  f.clock.advance(100);
  readings = f.table->read(2s);
  EXPECT_EQ(readings.at(20).path, "");
  EXPECT_EQ(f.source->usageCalls(20), 1);
  f.clock.advance(1800);
  readings = f.table->read(2s);
  EXPECT_EQ(readings.at(20).path, "/opt/stuck");  // from the cache the late item filled
  EXPECT_EQ(f.source->commandLineCalls(20), 1);
  EXPECT_TRUE(f.table->hung().empty());
}

TEST(ProcessTableRead, WorkItemsOutliveTheirTable) {
  auto f = std::make_unique<TableFixture>();
  f->source->add(30, 1, "stuck");
  f->source->block(30);
  f->table->read(100ms);
  auto source = f->source;
  f.reset();  // table, store and clock gone while the item is still blocked
  source->release();
  waitForUsage(*source, 30);
}

TEST(ProcessTableRead, StoredMarksExpireAndRetryAfterTwoMinutes) {
  TableFixture f;
  for (int32_t pid : {40, 41, 42}) f.source->add(pid, 5, "p" + std::to_string(pid));
  Date now = f.clock.now();
  record_file::write(HungMarks{{"40:5", {"p40", now - 10s}},
                               {"41:5", {"p41", now - 200s}},
                               {"42:5", {"p42", now - 1800s}},  // expired
                               {"43:5", {"gone", now - 1s}},    // process ended
                               {"40:6", {"old", now - 1s}}},    // pid reused
                     f.hungFile());
  auto readings = f.table->read(2s);
  EXPECT_EQ(readings.at(40).path, "");
  EXPECT_EQ(readings.at(41).path, "");
  EXPECT_EQ(readings.at(42).path, "/opt/p42");
  EXPECT_EQ(f.table->hung(),
            (std::map<std::string, std::string>{{"40:5", "p40"}, {"41:5", "p41"}}));

  EXPECT_FALSE(f.table->retryHung());
  f.table->setRetryHung(true);
  readings = f.table->read(2s);
  EXPECT_EQ(readings.at(40).path, "");          // marked 10 s ago: still skipped
  EXPECT_EQ(readings.at(41).path, "/opt/p41");  // marked over 120 s ago: read again
  EXPECT_EQ(f.table->hung(), (std::map<std::string, std::string>{{"40:5", "p40"}}));
  auto marks = f.storedMarks();  // written because the set of marks changed
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks.count("40:5"), 1u);
}

TEST(ProcessTableRead, CorruptHungFileCountsAsNoMarks) {
  TableFixture f;
  f.source->add(50, 5, "p");
  std::filesystem::create_directories(f.store.path());
  f.store.write("hung-v2.json", "{\"50:5\": {\"name\": 3}");
  EXPECT_EQ(f.table->read(2s).at(50).path, "/opt/p");
}

TEST(OutermostBundle, OuterAppWins) {
  struct Case {
    const char* path;
    std::optional<std::string> bundle;
  };
  for (const auto& c : std::vector<Case>{
           {"/Applications/Outer.app/Contents/Apps/Inner.app/Contents/MacOS/inner",
            "/Applications/Outer.app"},
           {"/Applications/Solo.app", "/Applications/Solo.app"},
           {"/usr/bin/clang", std::nullopt},
           {"/opt/x.apparent/bin", std::nullopt},
           {"", std::nullopt},
       }) {
    EXPECT_EQ(ProcessTable::outermostBundle(c.path), c.bundle) << c.path;
    EXPECT_EQ(ProcessTable::outermostBundle(c.path), c.bundle) << "memoised: " << c.path;
  }
}

ProcessReading reading(int32_t pid, std::string path, std::string arguments = "",
                       int32_t responsible = 0, int32_t ppid = 1) {
  ProcessReading r;
  r.pid = pid;
  r.ppid = ppid;
  r.path = std::move(path);
  r.name = r.path.substr(r.path.rfind('/') + 1);
  r.arguments = std::move(arguments);
  r.responsiblePid = responsible ? responsible : pid;
  return r;
}

TEST(OwningBundle, SimulatorResponsibleArgumentsAndDesktopEntries) {
  ProcessReadings readings;
  readings[1] = reading(1, "/Applications/Editor.app/Contents/MacOS/Editor");
  readings[2] = reading(2, "/usr/libexec/helper", "", 1);
  readings[3] = reading(3, "/usr/bin/java", "java -jar /Applications/Tool.app/Contents/tool.jar");
  readings[4] = reading(4, "/Users/me/Library/Developer/CoreSimulator/Devices/X/app");
  readings[5] = reading(5, "/usr/lib/firefox/firefox");
  readings[5].appEntry = "/usr/share/applications/firefox.desktop";
  readings[6] = reading(6, "/usr/bin/bash");
  readings[7] = reading(7, "/usr/bin/sleep", "sleep Tool.app/x");  // not a path

  EXPECT_EQ(ProcessTable::owningBundle(readings[1], readings), "/Applications/Editor.app");
  EXPECT_EQ(ProcessTable::owningBundle(readings[2], readings), "/Applications/Editor.app");
  EXPECT_EQ(ProcessTable::owningBundle(readings[3], readings), std::nullopt)
      << "arguments must begin with /";
  readings[3].arguments = "/Applications/Tool.app/Contents/tool.jar";
  EXPECT_EQ(ProcessTable::owningBundle(readings[3], readings), "/Applications/Tool.app");
  EXPECT_EQ(ProcessTable::owningBundle(readings[4], readings),
            "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app");
  EXPECT_EQ(ProcessTable::owningBundle(readings[5], readings),
            "/usr/share/applications/firefox.desktop");
  EXPECT_EQ(ProcessTable::owningBundle(readings[6], readings), std::nullopt);
  EXPECT_EQ(ProcessTable::owningBundle(readings[7], readings), std::nullopt);
}

TEST(CpuPercent, DeltasOfTheSameProcessOnly) {
  ProcessReading now = reading(1, "/x");
  now.startTime = 100;
  now.cpuNanos = 3'000'000'000;
  ProcessReading before = now;
  before.cpuNanos = 1'500'000'000;
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &before, 2.0), 75.0);
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &before, 3.0), 50.0);
  before.cpuNanos = 2'999'000'000;  // 0.05 % rounds away from zero
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &before, 2.0), 0.1);
  before.cpuNanos = 1'500'000'000;
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &before, 0.0), 0.0);  // first sample
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, nullptr, 2.0), 0.0);
  auto reused = before;
  reused.startTime = 99;
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &reused, 2.0), 0.0);
  auto backwards = before;
  backwards.cpuNanos = 4'000'000'000;
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &backwards, 2.0), 0.0);
  auto unknown = before;
  unknown.cpuNanos.reset();
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &unknown, 2.0), 0.0);
}

ProcessSample sample(int32_t pid, ProcessCategory category, double cpu, uint64_t memory,
                     std::optional<std::string> appName = std::nullopt) {
  ProcessSample s;
  s.pid = pid;
  s.category = category;
  s.cpuPercent = cpu;
  s.memoryBytes = memory;
  s.appName = std::move(appName);
  return s;
}

TEST(AppGroups, SumsMembersPicksMainPidAndOrdersByWeight) {
  ProcessReadings readings;
  readings[10] = reading(10, "/Applications/Editor.app/Contents/MacOS/Editor");
  readings[5] = reading(5, "/Applications/Editor.app/Contents/Frameworks/H.app/Contents/MacOS/H");
  readings[12] = reading(12, "/Applications/Editor.app/Contents/MacOS/Editor");
  readings[20] =
      reading(20, "/Applications/Nested.app/Contents/Frameworks/In.app/Contents/MacOS/In");
  readings[30] = reading(30, "/usr/lib/firefox/firefox", "", 0, 1);
  readings[31] = reading(31, "/usr/lib/firefox/firefox", "", 0, 30);
  readings[30].appEntry = readings[31].appEntry =
      "/usr/share/applications/org.mozilla.firefox.desktop";
  readings[40] = reading(40, "/Applications/System.app/Contents/MacOS/S");

  std::vector<ProcessSample> samples = {
      sample(12, ProcessCategory::userApp, 0.04, 100, "Editor"),
      sample(10, ProcessCategory::userApp, 0.03, 100),
      sample(5, ProcessCategory::aiAgent, 0.0, 100),
      sample(20, ProcessCategory::userApp, 1.0, 0),
      sample(31, ProcessCategory::userApp, 0.0, 60'000'000, "org.mozilla.firefox"),
      sample(30, ProcessCategory::userApp, 0.0, 1),
      sample(40, ProcessCategory::system, 90.0, 0),   // not an app category
      sample(99, ProcessCategory::userApp, 90.0, 0),  // no reading
  };
  int plistReads = 0;
  auto groups = ProcessTable::appGroups(samples, readings, [&](const std::string& bundle) {
    ++plistReads;
    return bundle == "/Applications/Editor.app" ? std::optional<std::string>("com.ex.editor")
                                                : std::nullopt;
  });
  ASSERT_EQ(groups.size(), 3u);
  // Firefox: 60 MB outweighs one percent of a core (50 MB).
  EXPECT_EQ(groups[0].bundlePath, "/usr/share/applications/org.mozilla.firefox.desktop");
  EXPECT_EQ(groups[0].bundleID, "org.mozilla.firefox");
  EXPECT_EQ(groups[0].mainPid, 30);
  EXPECT_EQ(groups[0].processCount, 2);
  EXPECT_EQ(groups[1].name, "/Applications/Nested.app");  // first member had no appName
  EXPECT_EQ(groups[1].mainPid, 0);                        // only nested bundles run
  EXPECT_EQ(groups[2].name, "Editor");
  EXPECT_EQ(groups[2].bundleID, "com.ex.editor");
  EXPECT_EQ(groups[2].mainPid, 10);
  EXPECT_EQ(groups[2].processCount, 3);
  EXPECT_DOUBLE_EQ(groups[2].cpuPercent, 0.1);  // 0.07 summed, then rounded
  EXPECT_EQ(groups[2].memoryBytes, 300u);
  EXPECT_EQ(groups[2].category, ProcessCategory::aiAgent);
  EXPECT_EQ(plistReads, 2);  // desktop entries need no information list
}

}  // namespace
}  // namespace norvo
