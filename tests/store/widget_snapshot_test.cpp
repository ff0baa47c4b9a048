#include "core/store/widget_snapshot.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

SystemMetrics::Volume volume(std::string path, std::string name) {
  return {std::move(path), std::move(name), 2, 1};
}

NetworkConnection connection(std::string name, bool primary) {
  NetworkConnection c;
  c.bsdName = c.name = std::move(name);
  c.primary = primary;
  return c;
}

NorvoSnapshot sample() {
  NorvoSnapshot s;
  s.metrics.timestamp = sys_days{year{2026} / 3 / 4} + hours{5} + minutes{6} + seconds{7};
  s.metrics.cpu.usage = 0.25;
  s.metrics.memory.usedBytes = 6;
  s.metrics.memory.totalBytes = 16;
  s.assessment.level = LoadLevel::overloaded;
  s.assessment.recommendedParallelJobs = 2;
  return s;
}

TEST(WidgetSnapshotBuild, BootVolumeFirstThenOthersInSampledOrder) {
  using Disks = std::vector<std::pair<std::string, bool>>;  // name, external
  for (const auto& [volumes, expected] :
       std::vector<std::pair<std::vector<SystemMetrics::Volume>, Disks>>{
           // No root: the first volume is the boot one.
           {{volume("/data", "Data"), volume("/media/a", "A")}, {{"Data", false}, {"A", true}}},
           {{volume("/media/z", "Z"), volume("/media/a", "A"), volume("/", "root"),
             volume("/home", "home")},
            {{"root", false}, {"Z", true}, {"A", true}, {"home", true}}},
           {{}, {}}}) {
    auto s = sample();
    s.metrics.volumes = volumes;
    Disks got;
    for (const auto& d : WidgetSnapshot(s).disks) got.emplace_back(d.name, d.external);
    EXPECT_EQ(got, expected);
  }
}

TEST(WidgetSnapshotBuild, FirstFourAppGroupsAndOnlyAgentsAreAI) {
  auto s = sample();
  for (auto [name, category] :
       std::vector<std::pair<std::string, ProcessCategory>>{{"claude", ProcessCategory::aiAgent},
                                                            {"ollama", ProcessCategory::aiInfra},
                                                            {"cargo", ProcessCategory::aiTask},
                                                            {"Code", ProcessCategory::userApp},
                                                            {"late", ProcessCategory::aiAgent}}) {
    s.apps.emplace_back();
    s.apps.back().name = name;
    s.apps.back().category = category;
  }
  std::vector<std::pair<std::string, bool>> shown;
  for (const auto& a : WidgetSnapshot(s).apps) shown.emplace_back(a.name, a.ai);
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, bool>>{
                       {"claude", true}, {"ollama", false}, {"cargo", false}, {"Code", false}}));
}

TEST(WidgetSnapshotJson, RoundTripAndOlderOrBrokenRecords) {
  auto s = sample();
  s.health = Health{80, {}};
  s.sensors = SensorReport{};
  s.sensors->cpuCelsius = 55;
  s.sensors->connections = std::vector<NetworkConnection>{connection("Ethernet", true)};
  s.metrics.volumes = {volume("/", "root")};
  WidgetSnapshot w(s);
  EXPECT_EQ(json_codec::decodeAs<WidgetSnapshot>(json_codec::encodeRecord(w)), w);

  const std::string minimal =
      R"({"apps":[],"cpu":0.5,"date":"2026-03-04T05:06:07Z","disks":[],"jobs":1,"level":"busy",)"
      R"("memoryTotal":2,"memoryUsed":1,"pressure":"normal","swapBytes":0})";
  auto ok = json_codec::decodeAs<WidgetSnapshot>(minimal);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->level, LoadLevel::busy);
  EXPECT_FALSE(ok->network.has_value());
  // A level this record does not have is no level at all.
  std::string calm = minimal;
  calm.replace(calm.find("busy"), 4, "calm");
  EXPECT_FALSE(json_codec::decodeAs<WidgetSnapshot>(calm).has_value());
}

}  // namespace
}  // namespace norvo
