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
using Names = std::map<std::string, std::string>;
using test::FakeProcessSource;

struct TableFixture {
  test::TempDir store;
  std::shared_ptr<FakeProcessSource> source = std::make_shared<FakeProcessSource>();
  // A clock the test moves by hand; read from the table's workers too.
  std::shared_ptr<std::atomic<int64_t>> seconds = std::make_shared<std::atomic<int64_t>>(0);
  const Date base = Date(std::chrono::seconds(1'800'000'000));
  std::unique_ptr<ProcessTable> table = std::make_unique<ProcessTable>(
      source, store.path(),
      [s = seconds, b = base] { return b + std::chrono::seconds(s->load()); });

  Date now() const { return base + std::chrono::seconds(seconds->load()); }
  std::filesystem::path hungFile() const { return store.path() / "hung-v2.json"; }
  HungMarks storedMarks() const {
    return record_file::read<HungMarks>(hungFile()).value_or(HungMarks{});
  }
  // The cheap record carries CPU time, as /proc/<pid>/stat does.
  void setUsage(int32_t pid, uint64_t cpuNanos, uint64_t footprintBytes) {
    source->change(pid, [&](FakeProcessSource::Process& p) {
      p.basics.cpuNanos = cpuNanos;
      p.usage = {cpuNanos, footprintBytes};
    });
  }
  // Waits (briefly) until a work item that was stuck has run to its end.
  static void waitForUsage(const FakeProcessSource& source, int32_t pid) {
    for (int i = 0; i < 500 && source.calls(pid).usage == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_GT(source.calls(pid).usage, 0);
  }
};

TEST(ProcessTableRead, CompletesReadingsAndCachesCommandLinesPerProcessKey) {
  TableFixture f;
  f.source->add(10, 500, "editor");
  f.source->add(11, 500, "someone-elses", /*uid=*/0);
  auto readings = f.table->read(5s);
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_EQ(readings.at(10).path, "/opt/editor");
  // Another user's process: no command line is even asked for, usage still is.
  EXPECT_EQ(readings.at(11).cpuNanos, 11000u);
  EXPECT_EQ(f.source->calls(11).commandLine, 0);

  f.table->read(5s);
  EXPECT_EQ(f.source->calls(10).commandLine, 1);  // cached for the same key
  EXPECT_EQ(f.source->calls(10).usage, 2);        // usage is read every time
  f.source->add(10, 900, "compiler");             // the pid is reused: a new key
  EXPECT_EQ(f.table->read(5s).at(10).name, "compiler");
  EXPECT_EQ(f.source->calls(10).commandLine, 2);
  // A forked shell seen before its exec: same key, a new program.
  f.source->add(10, 900, "cc1plus");
  EXPECT_EQ(f.table->read(5s).at(10).name, "cc1plus");
  EXPECT_EQ(f.source->calls(10).commandLine, 3);

  // The cheap read asks for no details; the single-process read never uses the cache.
  EXPECT_EQ(f.table->basic(10)->path, "");
  EXPECT_EQ(f.table->read(10)->path, "/opt/cc1plus");
  EXPECT_EQ(f.source->calls(10).commandLine, 4);
  EXPECT_FALSE(f.table->read(77).has_value());
}

TEST(ProcessTableRead, MemoryOfAProcessThatHasNotRunIsCarriedForHalfAMinute) {
  TableFixture f;
  f.source->add(10, 500, "idle");
  f.setUsage(10, 7'000'000, 1 << 20);
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 1u << 20);
  f.setUsage(10, 7'000'000, 5 << 20);  // not run since: the last memory, not asked again
  *f.seconds += 29;
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 1u << 20);
  EXPECT_EQ(f.source->calls(10).usage, 1);
  *f.seconds += 2;  // too old now: read again
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 5u << 20);
  EXPECT_EQ(f.source->calls(10).usage, 2);
  f.setUsage(10, 8'000'000, 9 << 20);  // ran, however little: read again at once
  EXPECT_EQ(f.table->read(5s).at(10).footprintBytes, 9u << 20);
  EXPECT_EQ(f.source->calls(10).usage, 3);
  *f.seconds -= 3600;  // a clock set back does not make an old reading fresh forever
  f.table->read(5s);
  EXPECT_EQ(f.source->calls(10).usage, 4);
}

TEST(ProcessTableRead, StuckReadIsMarkedHungSkippedAndRewrittenAtMostEveryMinute) {
  TableFixture f;
  f.source->add(20, 700, "stuck");
  f.source->block(20);
  auto started = std::chrono::steady_clock::now();
  auto readings = f.table->read(300ms);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_FALSE(readings.at(20).cpuNanos.has_value());  // cheap values only
  EXPECT_TRUE(f.table->hung().empty());                // in flight, but not yet for 5 s
  EXPECT_FALSE(std::filesystem::exists(f.hungFile()));

  *f.seconds += 5;
  f.source->add(21, 700, "healthy");
  EXPECT_EQ(f.table->read(2s).at(21).path, "/opt/healthy");
  EXPECT_EQ(f.table->hung(), (Names{{"20:700", "stuck"}}));
  EXPECT_EQ(f.storedMarks(), (HungMarks{{"20:700", {"stuck", f.base}}}));
  EXPECT_EQ(f.source->calls(20).commandLine, 1);  // skipped, not read again

  // Same marks, still hung: the file is not rewritten within a minute, but is after it.
  record_file::write(HungMarks{{"20:700", {"renamed", f.base}}}, f.hungFile());
  *f.seconds += 30;
  f.table->read(2s);
  EXPECT_EQ(f.storedMarks().at("20:700").name, "renamed");
  *f.seconds += 31;
  f.table->read(2s);
  EXPECT_EQ(f.storedMarks().at("20:700").name, "stuck");

  // Released: the late item finishes in the background; the mark still keeps
  // the process out until it expires.
  f.source->release();
  TableFixture::waitForUsage(*f.source, 20);
  *f.seconds += 100;
  EXPECT_EQ(f.table->read(2s).at(20).path, "");
  EXPECT_EQ(f.source->calls(20).usage, 1);
  *f.seconds += 1800;
  EXPECT_EQ(f.table->read(2s).at(20).path, "/opt/stuck");  // from the cache the late item filled
  EXPECT_EQ(f.source->calls(20).commandLine, 1);
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
  TableFixture::waitForUsage(*source, 30);
}

TEST(ProcessTableRead, StoredMarksExpireAndRetryAfterTwoMinutes) {
  TableFixture f;
  f.store.write("hung-v2.json", "{\"50:5\": {\"name\": 3}");  // corrupt: no marks
  f.source->add(50, 5, "p");
  EXPECT_EQ(f.table->read(2s).at(50).path, "/opt/p");

  for (int32_t pid : {40, 41, 42}) f.source->add(pid, 5, "p" + std::to_string(pid));
  Date now = f.now();
  record_file::write(HungMarks{{"40:5", {"p40", now - 10s}},
                               {"41:5", {"p41", now - 200s}},
                               {"42:5", {"p42", now - 1800s}},  // expired
                               {"43:5", {"gone", now - 1s}},    // process ended
                               {"40:6", {"old", now - 1s}}},    // pid reused
                     f.hungFile());
  auto readings = f.table->read(2s);
  EXPECT_EQ(readings.at(40).path + readings.at(41).path, "");
  EXPECT_EQ(readings.at(42).path, "/opt/p42");
  EXPECT_EQ(f.table->hung(), (Names{{"40:5", "p40"}, {"41:5", "p41"}}));

  f.table->setRetryHung(true);
  readings = f.table->read(2s);
  EXPECT_EQ(readings.at(40).path, "");          // marked 10 s ago: still skipped
  EXPECT_EQ(readings.at(41).path, "/opt/p41");  // marked over 120 s ago: read again
  EXPECT_EQ(f.table->hung(), (Names{{"40:5", "p40"}}));
  EXPECT_EQ(f.storedMarks(), (HungMarks{{"40:5", {"p40", now - 10s}}}));  // the set changed
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

TEST(ProcessTableBundles, OutermostAndOwningBundle) {
  for (const auto& [path, bundle] : std::vector<std::pair<std::string, std::optional<std::string>>>{
           {"/Applications/Solo.app", "/Applications/Solo.app"},
           {"/opt/x.apparent/bin", std::nullopt},
           {"", std::nullopt}}) {
    EXPECT_EQ(ProcessTable::outermostBundle(path), bundle) << path;
  }

  // Each reading with the bundle that owns it; readings see each other. Nested
  // bundles and desktop entries: the app groups below.
  const std::optional<std::string> editor = "/Applications/Editor.app",
                                   emulator = "/home/me/Android/Sdk/emulator";
  std::vector<std::pair<ProcessReading, std::optional<std::string>>> rows = {
      {reading(1, "/Applications/Editor.app/Contents/MacOS/Editor"), editor},
      {reading(2, "/usr/libexec/helper", "", 1), editor},  // through its responsible process
      {reading(3, "/usr/bin/java", "java -jar /Applications/Tool.app/Contents/tool.jar"),
       std::nullopt},  // arguments must begin with "/"
      {reading(4, "/usr/bin/java", "/Applications/Tool.app/Contents/tool.jar"),
       "/Applications/Tool.app"},
      // The emulator's qemu and its launcher are one app; a namesake script is none.
      {reading(5, "/home/me/Android/Sdk/emulator/qemu/linux-x86_64/qemu-system-x86_64"), emulator},
      {reading(6, "/home/me/Android/Sdk/emulator/emulator", "emulator -avd Pixel_8"), emulator},
      {reading(7, "/home/me/src/emulator/emulator.py"), std::nullopt}};
  ProcessReadings r;
  for (const auto& [one, owner] : rows) r[one.pid] = one;
  for (const auto& [one, owner] : rows)
    EXPECT_EQ(ProcessTable::owningBundle(one, r), owner) << one.pid;
}

TEST(ProcessTableCpu, PercentOfOneCoreBetweenReadingsOfTheSameProcess) {
  ProcessReading now = reading(1, "/x");
  now.startTime = 100;
  now.cpuNanos = 3'000'000'000;
  // CPU time and start of the earlier reading, seconds between, percent.
  for (const auto& [cpu, startTime, seconds, percent] :
       std::vector<std::tuple<std::optional<uint64_t>, uint64_t, double, double>>{
           {1'500'000'000, 100, 2.0, 75.0},
           {1'500'000'000, 100, 0.0, 0.0},  // first sample
           {1'500'000'000, 99, 2.0, 0.0},   // pid reused
           {4'000'000'000, 100, 2.0, 0.0},  // went backwards
           {std::nullopt, 100, 2.0, 0.0}}) {
    ProcessReading before = now;
    before.cpuNanos = cpu;
    before.startTime = startTime;
    EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, &before, seconds), percent)
        << cpu.value_or(0) << " " << startTime << " " << seconds;
  }
  EXPECT_DOUBLE_EQ(ProcessTable::cpuPercent(now, nullptr, 2.0), 0.0);
}

TEST(ProcessTableAppGroups, SumsMembersPicksMainPidAndOrdersByWeight) {
  ProcessReadings r;
  r[10] = reading(10, "/Applications/Editor.app/Contents/MacOS/Editor");
  r[5] = reading(5, "/Applications/Editor.app/Contents/Frameworks/H.app/Contents/MacOS/H");
  r[12] = reading(12, "/Applications/Editor.app/Contents/MacOS/Editor");
  r[20] = reading(20, "/Applications/Nested.app/Contents/Frameworks/In.app/Contents/MacOS/In");
  r[30] = reading(30, "/usr/lib/firefox/firefox", "", 0, 1);
  r[31] = reading(31, "/usr/lib/firefox/firefox", "", 0, 30);
  r[30].appEntry = r[31].appEntry = "/usr/share/applications/org.mozilla.firefox.desktop";
  r[40] = reading(40, "/Applications/System.app/Contents/MacOS/S");
  using C = ProcessCategory;
  auto sample = [](int32_t pid, C category, double cpu, uint64_t memory,
                   std::optional<std::string> appName = std::nullopt) {
    ProcessSample s;
    s.pid = pid;
    s.category = category;
    s.cpuPercent = cpu;
    s.memoryBytes = memory;
    s.appName = std::move(appName);
    return s;
  };
  std::vector<ProcessSample> samples = {
      sample(12, C::userApp, 0.04, 100, "Editor"),
      sample(10, C::userApp, 0.03, 100),
      sample(5, C::aiAgent, 0.0, 100),
      sample(20, C::userApp, 1.0, 0),
      sample(31, C::userApp, 0.0, 60'000'000, "org.mozilla.firefox"),
      sample(30, C::userApp, 0.0, 1),
      sample(40, C::system, 90.0, 0),    // not an app category
      sample(99, C::userApp, 90.0, 0)};  // no reading
  int plistReads = 0;
  auto groups = ProcessTable::appGroups(samples, r, [&](const std::string& bundle) {
    ++plistReads;
    return bundle == "/Applications/Editor.app" ? std::optional<std::string>("com.ex.editor")
                                                : std::nullopt;
  });
  // Firefox's 60 MB outweighs Nested's one percent of a core (50 MB). Its main
  // process is the one the launcher started; Nested runs only nested bundles;
  // Editor's 0.07 % is summed, then rounded, and one agent makes it an agent.
  const std::string firefox = "/usr/share/applications/org.mozilla.firefox.desktop";
  EXPECT_EQ(
      groups,
      (std::vector<AppGroup>{
          // name, bundle, bundle id, main pid, processes, cpu, memory, category
          {"org.mozilla.firefox", firefox, "org.mozilla.firefox", 30, 2, 0.0, 60'000'001,
           C::userApp},
          {"/Applications/Nested.app", "/Applications/Nested.app", std::nullopt, 0, 1, 1.0, 0,
           C::userApp},
          {"Editor", "/Applications/Editor.app", "com.ex.editor", 10, 3, 0.1, 300, C::aiAgent}}));
  EXPECT_EQ(plistReads, 2);  // desktop entries need no information list
}

}  // namespace
}  // namespace norvo
