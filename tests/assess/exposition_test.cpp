// The exposition Prometheus scrapes, from plain snapshots: escaping, the
// level's state set, figures left out when the machine lacks them, and the
// whole text checked by Prometheus's own promtool.
#include "core/assess/exposition.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "assess/assess_fixtures.hpp"
#include "cli/child_process.hpp"

namespace norvo {
namespace {

using Exposition::Format;

// Each sample line as "name{labels}" → value text.
std::map<std::string, std::string> seriesOf(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    auto space = line.rfind(' ');
    EXPECT_TRUE(out.emplace(line.substr(0, space), line.substr(space + 1)).second) << line;
  }
  return out;
}

NorvoSnapshot busyBox() {
  NorvoSnapshot s;
  s.metrics = test::idleMachine();
  s.metrics.volumes.push_back({"/mnt/a \"b\"\\c\nd", "odd", 100, 40});
  s.assessment.hungProcesses = {"nfsd"};
  s.health = Health{};
  s.zombies = ZombieReport{2, {}};
  SensorReport sensors;
  sensors.cpuCelsius = 61.5;
  sensors.temperatures = {{"coretemp Package", 61.5}, {"coretemp Package", 60}, {"nvme", NAN}};
  sensors.fans = {FanInfo{0, 1200, 0, 5000, std::nullopt, false}};
  s.sensors = sensors;
  return s;
}

TEST(Exposition, EscapesLabelValuesAndReplacesBrokenUtf8) {
  std::pair<std::string, std::string> cases[] = {
      {"a\\b \"c\"\nd", "a\\\\b \\\"c\\\"\\nd"},
      {"Диск ☃", "Диск ☃"},
      {"bad\xFF!", "bad\xEF\xBF\xBD!"},
      {"cut \xD0", "cut \xEF\xBF\xBD"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Exposition::escapeLabel(in), out) << in;
}

TEST(Exposition, LeavesOutWhatTheMachineLacksAndRepeatsNoSeries) {
  NorvoSnapshot bare;
  bare.metrics.memory.pressure = "unknown";
  auto plain = Exposition::render(bare, {}, Format::prometheus);
  for (const char* absent : {"temperature", "fan", "health", "zombie", "volume", "pressure"})
    EXPECT_EQ(plain.find(absent), std::string::npos) << absent;

  std::vector<ProcessSample> samples(3);
  samples[0].category = ProcessCategory::aiAgent;
  samples[1].category = samples[2].category = ProcessCategory::aiTask;
  samples[0].orphaned = samples[2].orphaned = true;
  auto counts = Exposition::countProcesses(samples);
  auto series = seriesOf(Exposition::render(busyBox(), counts, Format::prometheus));
  EXPECT_EQ(series["norvo_temperature_celsius{sensor=\"coretemp Package\"}"], "61.5");
  EXPECT_EQ(series.count("norvo_temperature_celsius{sensor=\"nvme\"}"), 0u);
  EXPECT_EQ(series["norvo_fan_speed_rpm{fan=\"0\"}"], "1200");
  EXPECT_EQ(series["norvo_volume_free_bytes{mountpoint=\"/mnt/a \\\"b\\\"\\\\c\\nd\"}"], "40");
  EXPECT_EQ(series["norvo_ai_agent_processes"] + series["norvo_ai_tasks"] +
                series["norvo_ai_orphaned_tasks"] + series["norvo_hung_processes"],
            "1211");
  // The level is a state set: one series per level, only the current one at 1.
  std::string levels;
  for (const char* l : {"ok", "busy", "overloaded", "critical"})
    levels += series["norvo_level{level=\"" + std::string(l) + "\"}"];
  EXPECT_EQ(levels, "1000");
}

TEST(Exposition, PassesPromtoolCheckMetricsAndOpenMetricsEndsWithEof) {
  auto om = Exposition::render(busyBox(), {}, Format::openMetrics);
  EXPECT_EQ(om.find("# EOF"), om.size() - 6);
  EXPECT_EQ(om.back(), '\n');
  const std::string promtool = "/usr/bin/promtool";
  if (::access(promtool.c_str(), X_OK) != 0)
    GTEST_SKIP() << "promtool is not installed (Debian package prometheus; scripts/setup.sh)";
  auto text = Exposition::render(busyBox(), {5, 7, 1}, Format::prometheus);
  EXPECT_EQ(text.find("# EOF"), std::string::npos);
  auto ran = test::run({promtool, "check", "metrics"}, text, std::chrono::seconds(20));
  EXPECT_EQ(ran.status, 0) << ran.out << ran.errors << "\n" << text;
}

}  // namespace
}  // namespace norvo
