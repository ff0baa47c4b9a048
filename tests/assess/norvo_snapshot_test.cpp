#include "core/assess/norvo_snapshot.hpp"

#include <gtest/gtest.h>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using test::sample;
using C = ProcessCategory;

TEST(ProcessSampleKillable, OnlyOwnOrOrphanedAgentTasks) {
  struct Case {
    C category;
    std::optional<int32_t> agent, by;
    bool orphaned, killable;
  };
  const std::optional<int32_t> none;
  const Case cases[] = {
      {C::aiTask, 7, 7, false, true},      {C::aiTask, 7, 8, false, false},
      {C::aiTask, 7, none, false, false},  {C::aiTask, none, 7, false, false},
      {C::aiTask, none, none, true, true}, {C::aiTask, 7, 8, true, true},
      {C::aiAgent, 7, 7, true, false},     {C::aiInfra, 7, 7, true, false},
      {C::userApp, 7, 7, true, false},     {C::system, 7, 7, true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sample(42, "p", c.category, c.agent, c.orphaned).killable(c.by), c.killable)
        << rawValue(c.category) << " agent " << c.agent.value_or(-1) << " by " << c.by.value_or(-1)
        << (c.orphaned ? " orphaned" : "");
}

TEST(SnapshotJson, LevelsAreStrictAndEveryPartRoundTrips) {
  EXPECT_LT(LoadLevel::busy, LoadLevel::overloaded);
  EXPECT_FALSE(loadLevelFromRaw("OK").has_value());
  EXPECT_FALSE(json_codec::decodeAs<LoadLevel>("\"fine\"").has_value());

  NorvoSnapshot s;
  s.metrics.timestamp = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5};
  s.metrics.sampleSeconds = 2;
  s.metrics.cpu = {0.5, 8, 4, 4, 1.5, 1.0, 4.0};
  s.metrics.memory = {1024, 100, 200, 300, 400, 500, 600, "warning", 800, 900, 7.5};
  s.metrics.volumes = {{"/", "/", 10, 5}};
  s.metrics.thermalState = "fair";
  s.metrics.lowPowerMode = true;
  s.assessment.level = LoadLevel::busy;
  s.assessment.reasons = {"r"};
  s.assessment.reasonsRu = {"п"};
  s.processes = {sample(42, "node", C::aiTask, 9)};
  s.processes[0].appName = "Code";
  s.apps = {AppGroup{"Code", "/usr/share/code", std::nullopt, 10, 3, 12.5, 1000, C::userApp}};
  EXPECT_EQ(nlohmann::json(s)["processes"][0]["category"], "ai_task");

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
  EXPECT_EQ(nlohmann::json(back->metrics), nlohmann::json(s.metrics));
  EXPECT_EQ(back->sensors, s.sensors);
  EXPECT_EQ(back->health, s.health);
  EXPECT_EQ(back->zombies, s.zombies);
  EXPECT_EQ(back->assessment, s.assessment);
  EXPECT_EQ(back->processes, s.processes);
  EXPECT_EQ(back->apps, s.apps);
  EXPECT_EQ(back->longCPU, s.longCPU);

  auto broken = nlohmann::json::parse(text);
  broken["processes"][0]["category"] = "daemon";
  EXPECT_FALSE(json_codec::decodeAs<NorvoSnapshot>(broken.dump()).has_value());
}

}  // namespace
}  // namespace norvo
