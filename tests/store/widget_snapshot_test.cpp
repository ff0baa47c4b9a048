#include "core/store/widget_snapshot.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

SystemMetrics::Volume volume(std::string path, std::string name, int64_t free = 1,
                             int64_t total = 2) {
  return {std::move(path), std::move(name), total, free};
}

AppGroup group(std::string name, ProcessCategory category) {
  AppGroup g;
  g.name = name;
  g.bundlePath = "/opt/" + name;
  g.cpuPercent = 12.5;
  g.memoryBytes = 1u << 20;
  g.category = category;
  return g;
}

NetworkConnection connection(std::string name, bool primary) {
  NetworkConnection c;
  c.bsdName = name;
  c.name = name;
  c.primary = primary;
  return c;
}

NorvoSnapshot sample() {
  NorvoSnapshot s;
  s.metrics.timestamp = sys_days{year{2026} / 3 / 4} + hours{5} + minutes{6} + seconds{7};
  s.metrics.cpu.usage = 0.25;
  s.metrics.memory.usedBytes = 6;
  s.metrics.memory.totalBytes = 16;
  s.metrics.memory.pressure = "warning";
  s.metrics.memory.swapUsedBytes = 3;
  s.assessment.level = LoadLevel::overloaded;
  s.assessment.recommendedParallelJobs = 2;
  return s;
}

TEST(WidgetSnapshotBuild, CopiesScalarsAndLeavesOutWhatTheSampleLacks) {
  auto s = sample();
  WidgetSnapshot w(s);
  EXPECT_EQ(w.date, s.metrics.timestamp);
  EXPECT_EQ(w.level, LoadLevel::overloaded);
  EXPECT_EQ(w.cpu, 0.25);
  EXPECT_EQ(w.memoryUsed, 6u);
  EXPECT_EQ(w.memoryTotal, 16u);
  EXPECT_EQ(w.pressure, "warning");
  EXPECT_EQ(w.swapBytes, 3u);
  EXPECT_EQ(w.jobs, 2);
  EXPECT_FALSE(w.health.has_value());
  EXPECT_FALSE(w.cpuCelsius.has_value());
  EXPECT_FALSE(w.network.has_value());
  EXPECT_TRUE(w.disks.empty());
  EXPECT_TRUE(w.apps.empty());
  EXPECT_FALSE(nlohmann::json(w).contains("health"));

  s.health = Health{49, {}};
  s.sensors = SensorReport{};
  s.sensors->cpuCelsius = 71.5;
  WidgetSnapshot withSensors(s);
  EXPECT_EQ(withSensors.health, 49);
  EXPECT_EQ(withSensors.cpuCelsius, 71.5);
  EXPECT_FALSE(withSensors.network.has_value()) << "a report without connections has no network";
}

TEST(WidgetSnapshotBuild, BootVolumeFirstThenOthersInSampledOrder) {
  struct Case {
    const char* what;
    std::vector<SystemMetrics::Volume> volumes;
    std::vector<std::pair<std::string, bool>> expected;  // name, external
  };
  std::vector<Case> cases = {
      {"external listed first",
       {volume("/media/usb", "USB"), volume("/", "Macintosh HD")},
       {{"Macintosh HD", false}, {"USB", true}}},
      {"no root: the first volume is the boot one",
       {volume("/data", "Data"), volume("/media/a", "A"), volume("/media/b", "B")},
       {{"Data", false}, {"A", true}, {"B", true}}},
      {"order of the others is kept",
       {volume("/media/z", "Z"), volume("/media/a", "A"), volume("/", "root"),
        volume("/home", "home")},
       {{"root", false}, {"Z", true}, {"A", true}, {"home", true}}},
      {"no volumes", {}, {}},
  };
  for (const auto& c : cases) {
    auto s = sample();
    s.metrics.volumes = c.volumes;
    WidgetSnapshot w(s);
    std::vector<std::pair<std::string, bool>> got;
    for (const auto& d : w.disks) got.emplace_back(d.name, d.external);
    EXPECT_EQ(got, c.expected) << c.what;
  }
  auto s = sample();
  s.metrics.volumes = {volume("/", "root", 7, 9)};
  WidgetSnapshot w(s);
  ASSERT_EQ(w.disks.size(), 1u);
  EXPECT_EQ(w.disks[0].freeBytes, 7);
  EXPECT_EQ(w.disks[0].totalBytes, 9);
}

TEST(WidgetSnapshotBuild, NetworkIsThePrimaryConnectionElseTheFirst) {
  struct Case {
    const char* what;
    std::vector<NetworkConnection> connections;
    std::optional<std::string> expected;
  };
  std::vector<Case> cases = {
      {"primary Ethernet after Wi-Fi",
       {connection("Wi-Fi", false), connection("Ethernet", true)},
       "Ethernet"},
      {"none primary", {connection("A", false), connection("B", false)}, "A"},
      {"two primary", {connection("A", false), connection("B", true), connection("C", true)}, "B"},
      {"empty list", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    auto s = sample();
    s.sensors = SensorReport{};
    s.sensors->connections = c.connections;
    WidgetSnapshot w(s);
    std::optional<std::string> got;
    if (w.network) got = w.network->name;
    EXPECT_EQ(got, c.expected) << c.what;
  }
}

TEST(WidgetSnapshotBuild, FirstFourAppGroupsAndOnlyAgentsAreAI) {
  auto s = sample();
  s.apps = {group("claude", ProcessCategory::aiAgent), group("ollama", ProcessCategory::aiInfra),
            group("cargo", ProcessCategory::aiTask),   group("Code", ProcessCategory::userApp),
            group("Xorg", ProcessCategory::system),    group("late", ProcessCategory::aiAgent)};
  WidgetSnapshot w(s);
  ASSERT_EQ(w.apps.size(), 4u);
  std::vector<std::pair<std::string, bool>> got;
  for (const auto& a : w.apps) got.emplace_back(a.name, a.ai);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{
                     {"claude", true}, {"ollama", false}, {"cargo", false}, {"Code", false}}));
  EXPECT_EQ(w.apps[0].bundlePath, "/opt/claude");
  EXPECT_EQ(w.apps[0].cpuPercent, 12.5);
  EXPECT_EQ(w.apps[0].memoryBytes, 1u << 20);
}

TEST(WidgetSnapshotJson, SortedKeysIsoDateAndRoundTrip) {
  auto s = sample();
  s.health = Health{80, {}};
  s.sensors = SensorReport{};
  s.sensors->cpuCelsius = 55;
  s.sensors->connections = std::vector<NetworkConnection>{connection("Ethernet", true)};
  s.metrics.volumes = {volume("/", "root")};
  s.apps = {group("Code", ProcessCategory::userApp)};
  WidgetSnapshot w(s);
  auto text = json_codec::encodeRecord(w);
  EXPECT_EQ(text.rfind(R"({"apps":[{"ai":false,"bundlePath":"/opt/Code")", 0), 0u) << text;
  EXPECT_NE(text.find(R"("date":"2026-03-04T05:06:07Z")"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("level":"overloaded")"), std::string::npos) << text;
  auto keys = nlohmann::json::parse(text);
  std::vector<std::string> order;
  for (auto it = keys.begin(); it != keys.end(); ++it) order.push_back(it.key());
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(order.size(), 13u);
  EXPECT_EQ(json_codec::decodeAs<WidgetSnapshot>(text), w);
}

TEST(WidgetSnapshotJson, OlderRecordsWithoutOptionalsDecodeBrokenOnesDoNot) {
  const std::string minimal =
      R"({"apps":[],"cpu":0.5,"date":"2026-03-04T05:06:07Z","disks":[],"jobs":1,"level":"busy",)"
      R"("memoryTotal":2,"memoryUsed":1,"pressure":"normal","swapBytes":0})";
  auto ok = json_codec::decodeAs<WidgetSnapshot>(minimal);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->level, LoadLevel::busy);
  EXPECT_FALSE(ok->network.has_value());

  auto broken = [&](const std::string& from, const std::string& to) {
    std::string t = minimal;
    t.replace(t.find(from), from.size(), to);
    return json_codec::decodeAs<WidgetSnapshot>(t).has_value();
  };
  EXPECT_FALSE(broken(R"("level":"busy")", R"("level":"calm")"));
  EXPECT_FALSE(broken(R"("jobs":1,)", ""));
  EXPECT_FALSE(broken(R"("date":"2026-03-04T05:06:07Z")", R"("date":"today")"));
  EXPECT_FALSE(broken(R"("disks":[])", R"("disks":[{"name":"x"}])"));
  EXPECT_FALSE(json_codec::decodeAs<WidgetSnapshot>("{}").has_value());
}

TEST(WidgetSnapshotStore, SaveThenLoadAndAbsentForMissingOrEmptyRecord) {
  test::TempDir dir;
  fs::path file = dir.path() / "group" / "widget.json";
  EXPECT_FALSE(WidgetSnapshot::load(file).has_value());
  WidgetSnapshot w(sample());
  w.save(file);
  EXPECT_EQ(WidgetSnapshot::load(file), w);
  dir.write("group/widget.json", "{}");
  EXPECT_FALSE(WidgetSnapshot::load(file).has_value());
  dir.write("group/widget.json", "");
  EXPECT_FALSE(WidgetSnapshot::load(file).has_value());
}

TEST(WidgetSnapshotStore, ContainerIsTheAppGroupFolderBesideTheStore) {
  EXPECT_EQ(WidgetSnapshot::containerFor("/x/data", "/home/u"),
            fs::path("/x/data/KXT481WBE3.com.vadro.ZemraNorvo"));
  EXPECT_EQ(WidgetSnapshot::containerFor(nullptr, "/home/u"),
            fs::path("/home/u/.local/share/KXT481WBE3.com.vadro.ZemraNorvo"));
  EXPECT_EQ(WidgetSnapshot::containerFor("relative", "/home/u"),
            fs::path("/home/u/.local/share/KXT481WBE3.com.vadro.ZemraNorvo"));
  // The test process's own data folder, set up by the test runner.
  ASSERT_TRUE(WidgetSnapshot::url().has_value());
  EXPECT_EQ(*WidgetSnapshot::url(), fs::path(std::getenv("XDG_DATA_HOME")) /
                                        "KXT481WBE3.com.vadro.ZemraNorvo" / "widget.json");
  EXPECT_FALSE(WidgetSnapshot::load().has_value());
  WidgetSnapshot w(sample());
  w.save();
  EXPECT_EQ(WidgetSnapshot::load(), w);
  fs::remove(*WidgetSnapshot::url());
}

}  // namespace
}  // namespace norvo
