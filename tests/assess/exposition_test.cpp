// The exposition Prometheus scrapes, from plain snapshots: escaping, content
// negotiation, the level's state set, figures left out when the machine
// lacks them, and the whole text checked by Prometheus's own promtool.
#include "core/assess/exposition.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "assess/assess_fixtures.hpp"
#include "cli/child_process.hpp"
#include "platform/local_http.hpp"

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
    EXPECT_TRUE(out.emplace(line.substr(0, space), line.substr(space + 1)).second)
        << "repeated series: " << line;
  }
  return out;
}

NorvoSnapshot busyBox() {
  NorvoSnapshot s;
  s.metrics = test::idleMachine();
  s.metrics.volumes.push_back({"/mnt/a \"b\"\\c\nd", "odd", 100, 40});
  s.assessment.level = LoadLevel::busy;
  s.assessment.recommendedParallelJobs = 3;
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
  struct Case {
    std::string in, out;
  } cases[] = {
      {"/home", "/home"},
      {"a\\b", "a\\\\b"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"two\nlines", "two\\nlines"},
      {"Диск ☃", "Диск ☃"},
      {"bad\xFF!", "bad\xEF\xBF\xBD!"},
      {"cut \xD0", "cut \xEF\xBF\xBD"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Exposition::escapeLabel(c.in), c.out) << c.in;
}

TEST(Exposition, NegotiatesOpenMetricsOnlyWhenAskedFor) {
  struct Case {
    const char* accept;
    Format format;
  } cases[] = {
      {"", Format::prometheus},
      {"text/plain;version=0.0.4;q=1,*/*;q=0.1", Format::prometheus},
      // What Prometheus 2.x sends.
      {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;"
       "q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
       Format::openMetrics},
      {"Application/OpenMetrics-Text", Format::openMetrics},
      {"application/openmetrics-text;version=0.0.1", Format::prometheus},
      {"application/openmetrics-text; q=0", Format::prometheus},
  };
  for (const auto& c : cases) EXPECT_EQ(Exposition::negotiate(c.accept), c.format) << c.accept;
}

TEST(Exposition, TheLevelStateSetHasExactlyTheCurrentLevelSet) {
  for (auto level : {LoadLevel::ok, LoadLevel::busy, LoadLevel::overloaded, LoadLevel::critical}) {
    NorvoSnapshot s;
    s.assessment.level = level;
    auto series = seriesOf(Exposition::render(s, {}, Format::prometheus));
    int set = 0, states = 0;
    for (const auto& [name, value] : series) {
      if (name.rfind("norvo_level{", 0) != 0) continue;
      ++states;
      if (value == "1") {
        ++set;
        EXPECT_EQ(name, "norvo_level{level=\"" + std::string(rawValue(level)) + "\"}");
      }
    }
    EXPECT_EQ(states, 4);
    EXPECT_EQ(set, 1);
    EXPECT_EQ(series["norvo_level_severity"], std::to_string(severity(level)));
  }
}

TEST(Exposition, LeavesOutWhatTheMachineLacksAndRepeatsNoSeries) {
  NorvoSnapshot bare;
  bare.metrics.memory.pressure = "unknown";
  auto plain = Exposition::render(bare, {}, Format::prometheus);
  for (const char* absent : {"temperature", "fan", "health", "zombie", "volume", "pressure"})
    EXPECT_EQ(plain.find(absent), std::string::npos) << absent;

  auto series = seriesOf(Exposition::render(busyBox(), {5, 7, 1}, Format::prometheus));
  EXPECT_EQ(series["norvo_temperature_celsius{sensor=\"coretemp Package\"}"], "61.5");
  EXPECT_EQ(series.count("norvo_temperature_celsius{sensor=\"nvme\"}"), 0u);
  EXPECT_EQ(series["norvo_fan_speed_rpm{fan=\"0\"}"], "1200");
  EXPECT_EQ(series["norvo_volume_free_bytes{mountpoint=\"/mnt/a \\\"b\\\"\\\\c\\nd\"}"], "40");
  EXPECT_EQ(series["norvo_ai_orphaned_tasks"], "1");
  EXPECT_EQ(series["norvo_hung_processes"], "1");
  EXPECT_EQ(series["norvo_cpu_usage_ratio"], "0.1");
}

TEST(Exposition, OpenMetricsEndsWithEofAndTheTextFormatDoesNot) {
  auto om = Exposition::render(busyBox(), {}, Format::openMetrics);
  auto text = Exposition::render(busyBox(), {}, Format::prometheus);
  EXPECT_EQ(om.substr(om.size() - 6), "# EOF\n");
  EXPECT_EQ(om.find("# EOF"), om.size() - 6);
  EXPECT_EQ(text.find("# EOF"), std::string::npos);
}

TEST(Exposition, CountsAiProcessesOverEveryProcess) {
  std::vector<ProcessSample> samples(3);
  samples[0].category = ProcessCategory::aiAgent;
  samples[1].category = ProcessCategory::aiTask;
  samples[2].category = ProcessCategory::aiTask;
  samples[2].orphaned = true;
  samples.push_back(samples[0]);
  samples.back().category = ProcessCategory::userApp;
  samples.back().orphaned = true;
  auto counts = Exposition::countProcesses(samples);
  EXPECT_EQ(counts.aiAgents, 1);
  EXPECT_EQ(counts.aiTasks, 2);
  EXPECT_EQ(counts.orphanedTasks, 1);
}

TEST(Exposition, PassesPromtoolCheckMetrics) {
  auto promtool = test::onPath("promtool");
  if (!promtool)
    GTEST_SKIP() << "promtool is not installed (Debian package prometheus; scripts/setup.sh)";
  auto text = Exposition::render(busyBox(), {5, 7, 1}, Format::prometheus);
  auto ran = test::run({*promtool, "check", "metrics"}, text, std::chrono::seconds(20));
  EXPECT_EQ(ran.status, 0) << ran.out << ran.errors << "\n" << text;
}

}  // namespace
}  // namespace norvo
