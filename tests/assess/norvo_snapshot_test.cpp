#include "core/assess/norvo_snapshot.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

ProcessSample task(bool orphaned, std::optional<int32_t> agent) {
  ProcessSample s;
  s.pid = 42;
  s.category = ProcessCategory::aiTask;
  s.orphaned = orphaned;
  s.agentPid = agent;
  return s;
}

TEST(ProcessSampleKillable, OnlyOwnOrOrphanedAgentTasks) {
  EXPECT_TRUE(task(false, 7).killable(7));
  EXPECT_FALSE(task(false, 7).killable(8));
  EXPECT_FALSE(task(false, 7).killable(std::nullopt));
  EXPECT_FALSE(task(false, std::nullopt).killable(7));
  EXPECT_TRUE(task(true, std::nullopt).killable(std::nullopt));
  EXPECT_TRUE(task(true, 7).killable(8));
  for (auto c : {ProcessCategory::aiAgent, ProcessCategory::aiInfra, ProcessCategory::userApp,
                 ProcessCategory::system}) {
    auto s = task(true, 7);
    s.category = c;
    EXPECT_FALSE(s.killable(7)) << rawValue(c);
  }
}

TEST(LoadLevelOrder, BySeverityAndStrictRawValues) {
  EXPECT_LT(LoadLevel::ok, LoadLevel::busy);
  EXPECT_LT(LoadLevel::busy, LoadLevel::overloaded);
  EXPECT_GT(LoadLevel::critical, LoadLevel::overloaded);
  EXPECT_EQ(loadLevelFromRaw("overloaded"), LoadLevel::overloaded);
  EXPECT_FALSE(loadLevelFromRaw("OK").has_value());
  EXPECT_FALSE(json_codec::decodeAs<LoadLevel>("\"fine\"").has_value());
}

TEST(SnapshotJson, OptionalPartsAreLeftOutAndRoundTrip) {
  NorvoSnapshot s;
  s.metrics.thermalState = "nominal";
  s.assessment.level = LoadLevel::busy;
  s.assessment.reasons = {"r"};
  s.assessment.reasonsRu = {"п"};
  ProcessSample p = task(false, 9);
  p.appName = "Code";
  s.processes = {p};
  s.apps = {AppGroup{"Code", "/usr/share/code", std::nullopt, 10, 3, 12.5, 1000,
                     ProcessCategory::userApp}};
  auto bare = nlohmann::json(s);
  for (const char* key : {"sensors", "health", "zombies", "longCPU"})
    EXPECT_FALSE(bare.contains(key));
  EXPECT_FALSE(bare["apps"][0].contains("bundleID"));
  EXPECT_FALSE(bare["processes"][0].contains("bundleID"));
  EXPECT_EQ(bare["processes"][0]["category"], "ai_task");
  EXPECT_EQ(bare["assessment"]["level"], "busy");

  SensorReport sensors;
  sensors.connections = std::vector<NetworkConnection>{
      {"wlan0", "Wi-Fi", NetworkConnection::Kind::wifi, 8.66e8, true, 10, 20,
       NetworkConnection::WiFi{"Wi-Fi 6", "5", 36, 80, -52, std::nullopt}}};
  sensors.battery = SensorReport::Battery{80, true, true, std::nullopt, 100, 95, 30.5, 65};
  s.sensors = sensors;
  s.health = Health{88, {{12, "why", "почему"}}};
  s.zombies = ZombieReport{2, {{1, "init", 2}}};
  s.longCPU = std::vector<LongCPUProcess>{};
  auto text = json_codec::encode(nlohmann::json(s));
  auto back = json_codec::decodeAs<NorvoSnapshot>(text);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->sensors, s.sensors);
  EXPECT_EQ(back->health, s.health);
  EXPECT_EQ(back->zombies, s.zombies);
  EXPECT_EQ(back->assessment, s.assessment);
  EXPECT_EQ(back->processes, s.processes);
  EXPECT_EQ(back->apps, s.apps);
  ASSERT_TRUE(back->longCPU.has_value());
  EXPECT_TRUE(back->longCPU->empty());
  EXPECT_EQ(nlohmann::json::parse(text)["sensors"]["connections"][0]["wifi"].count("noise"), 0u);

  auto broken = nlohmann::json::parse(text);
  broken["processes"][0]["category"] = "daemon";
  EXPECT_FALSE(json_codec::decodeAs<NorvoSnapshot>(broken.dump()).has_value());
}

}  // namespace
}  // namespace norvo
