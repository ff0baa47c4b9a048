#include "core/measure/sensors.hpp"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <sstream>

#include "core/assess/compact.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using platform::TemperatureReading;
using Role = platform::TemperatureRole;

// "cpu 60 coretemp; max 60; gpu; soc 60": each figure with its source, so that
// a source without a figure shows too.
std::string describe(const auto& t) {
  auto part = [](const std::optional<double>& c, const std::optional<std::string>& source = {}) {
    std::ostringstream out;
    if (c) out << " " << *c;
    if (source) out << " " << *source;
    return out.str();
  };
  return "cpu" + part(t.cpuCelsius, t.cpuSource) + "; max" + part(t.cpuMaxCelsius) + "; gpu" +
         part(t.gpuCelsius, t.gpuSource) + "; soc" + part(t.socMaxCelsius);
}

// The processor's temperature comes from a sensor on the processor whenever
// there is one; a firmware zone is the last resort.
TEST(SensorsTemperatures, FiguresAndTheirSources) {
  constexpr auto P = Role::processor, G = Role::gpu, L = Role::listed;
  const TemperatureReading acpitz90{"acpitz", 90, Role::processorFallback};
  const std::vector<TemperatureReading> listed = {
      {"PMU tdie1", 40, L},    {"PMU tdie2", 50, L}, {"NAND", 41, L},
      {"NAND", 42, L},         {"GPU MTR", 45, L},   {"gas gauge battery", 60, L},
      {"Battery BAT0", 70, L}, {"Hot", 150, L},      {"Cold", 0, L}};
  struct Case {
    std::vector<TemperatureReading> sensors;
    std::string expected;
    std::vector<double> smcProcessor = {}, smcGpu = {};
  };
  const Case cases[] = {
      // Exactly 5 and 130 are outside the controller's window; 5.1 and 129.9 inside.
      {{}, "cpu 67.5 smc; max 129.9; gpu 40 smc; soc", {5.0, 5.1, 129.9, 130.0}, {40.04, 130.0}},
      {{}, "cpu; max; gpu; soc", {5.0, 130.0}},
      {{{"coretemp Core 0", 58, P}}, "cpu 70 smc; max 70; gpu 50 smc; soc 58", {70}, {50}},
      // Named sensors: the hottest "tdie" and "GPU"; batteries are not chips.
      {listed, "cpu 50 PMU tdie2; max; gpu 45 GPU MTR; soc 50"},
      {{acpitz90, {"coretemp Package", 60, P}}, "cpu 60 coretemp; max 60; gpu; soc 90"},
      {{{"PMU tdie1", 45, L}, acpitz90}, "cpu 45 PMU tdie1; max; gpu; soc 90"},
      {{{"nvme Composite", 38, L}, acpitz90}, "cpu 90 acpitz; max; gpu; soc 90"},
      {{{"k10temp Tdie", 50, P},
        {"zenpower Tdie", 54, P},
        {"amdgpu edge", 55, G},
        {"nvidia gpu0", 65, G}},
       "cpu 52 k10temp, zenpower; max 54; gpu 60 amdgpu, nvidia; soc 65"},
      // Outside the plausible window a processor sensor is no source at all.
      {{{"coretemp Core 0", 200, P}, acpitz90}, "cpu 90 acpitz; max; gpu; soc 90"},
      {{{"nvme Composite", 38, L}}, "cpu; max; gpu; soc 38"}};
  for (const auto& c : cases)
    EXPECT_EQ(describe(Sensors::temperatures(c.smcProcessor, c.smcGpu, c.sensors)), c.expected);

  // Listed: averaged by name, within 0 to 150 (exclusive).
  EXPECT_EQ(Sensors::temperatures({}, {}, listed).temperatures,
            (std::vector<SensorReport::Temperature>{{"Battery BAT0", 70},
                                                    {"GPU MTR", 45},
                                                    {"NAND", 41.5},
                                                    {"PMU tdie1", 40},
                                                    {"PMU tdie2", 50},
                                                    {"gas gauge battery", 60}}));
  // The digest names the source beside each figure it shows.
  SensorReport report;
  report.cpuCelsius = 60;
  report.cpuSource = "coretemp";
  report.gpuSource = "nvidia";  // without a figure
  auto digest = Compact::sensors(report);
  EXPECT_EQ(digest.value("cpu_c_source", ""), "coretemp");
  EXPECT_FALSE(digest.contains("gpu_c_source")) << digest;
}

TEST(SensorsFormulas, BatteryRatesPowerAndUptime) {
  platform::BatteryReading r;
  EXPECT_EQ(Sensors::battery(r).percent, 0);  // defaults: current 0 of 100
  for (auto [now, max, percent] : std::vector<std::tuple<int, int, int>>{
           {3, 4, 75}, {2, 3, 66}, {57, 0, 57}}) {  // integer division, no division by zero
    r.currentCapacity = now;
    r.maxCapacity = max;
    EXPECT_EQ(Sensors::battery(r).percent, percent) << now << "/" << max;
  }
  r.minutesToEmpty = 0;
  EXPECT_FALSE(Sensors::battery(r).minutesLeft);
  r.minutesToEmpty = 95;
  EXPECT_EQ(Sensors::battery(r).minutesLeft, 95);
  r.fullChargeCapacity = 5200;
  r.designCapacity = 5000;
  EXPECT_EQ(Sensors::battery(r).healthPercent, 100);  // never above 100
  r.fullChargeCapacity = 4321;
  EXPECT_EQ(Sensors::battery(r).healthPercent, 86);
  r.designCapacity = 0;
  EXPECT_FALSE(Sensors::battery(r).healthPercent);
  r.adapterWatts = 0.4;
  EXPECT_FALSE(Sensors::battery(r).adapterWatts);
  r.adapterWatts = 64.6;
  EXPECT_EQ(Sensors::battery(r).adapterWatts, 65);

  SensorCounters a, b;
  a.time = b.time = 10;
  EXPECT_EQ(Sensors::interval(a, b), 0.001);
  EXPECT_EQ(Sensors::rate(100, 300, 2), 100);
  EXPECT_EQ(Sensors::rate(300, 100, 2), 0);  // a disk went away
  EXPECT_EQ(Sensors::rate(0, UINT64_MAX, 1), static_cast<double>(UINT64_MAX));

  std::map<std::string, platform::EnergyCounter> before{{"pkg", {1'000'000, 10'000'000, false}},
                                                        {"psys", {5'000'000, 10'000'000, true}}};
  auto after = before;
  after["pkg"].microjoules = 3'000'000;
  after["psys"].microjoules = 9'000'000;
  EXPECT_EQ(Sensors::energyWatts(before, after, 2), 2.0);  // the whole platform only
  after["psys"].microjoules = 1'000'000;                   // wrapped past its range
  EXPECT_EQ(Sensors::energyWatts(before, after, 2), 3.0);
  before.erase("psys");
  EXPECT_FALSE(Sensors::energyWatts(before, after, 2));  // a package is not the machine
  after["pkg"] = {500, 0, false};                        // went back with no known range
  EXPECT_FALSE(Sensors::energyWatts(before, after, 2));
  EXPECT_FALSE(Sensors::energyWatts({}, after, 2));

  EXPECT_EQ(Sensors::systemWatts(12.5, 30, 40), 12.5);
  EXPECT_EQ(Sensors::systemWatts(0, 30, 40), 30);  // 0 and 1000 are outside the window
  EXPECT_EQ(Sensors::systemWatts(1000, std::nullopt, 40), 40);
  EXPECT_FALSE(Sensors::systemWatts(std::nullopt, std::nullopt, 1000));
  EXPECT_EQ(Sensors::uptimeSeconds(1'700'000'000, 1'700'000'100.5, 7), 100.5);
  EXPECT_EQ(Sensors::uptimeSeconds(std::nullopt, 1'700'000'100, 7), 7);
}

// ---- Whole reports from fixture trees ----

SensorReport fixtureReport(const std::string& scenario) {
  auto roots = platform::Roots::under(test::fixture("linux/" + scenario));
  auto first = SensorCounters::now(roots);
  auto second = first;
  second.time = first.time + 2;
  return Sensors::read(first, second, roots, nullptr);
}

TEST(SensorsFixtures, BareMachineGivesEveryFallback) {
  using Case = std::pair<const char*, const char*>;
  for (auto [scenario, os] :
       std::vector<Case>{{"bare_vm", ""}, {"bare_vm_sensors", "Debian GNU/Lin"}}) {
    auto r = fixtureReport(scenario);
    // The architecture: from the tree where it has one, else from the kernel.
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(r.model, std::string_view(scenario) == "bare_vm" ? names.machine : "x86_64");
    EXPECT_EQ(r.chip, "") << scenario;
    EXPECT_EQ(r.osVersion, os);
    EXPECT_EQ(describe(r), "cpu; max; gpu; soc") << scenario;
    EXPECT_TRUE(r.temperatures.empty() && r.fans.empty()) << scenario;
    EXPECT_FALSE(r.hasFans || r.systemWatts || r.gpuPercent || r.battery) << scenario;
    EXPECT_TRUE(r.connections.has_value()) << scenario;
  }
}

}  // namespace
}  // namespace norvo
