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
using Opt = std::optional<double>;
using Figures = std::tuple<Opt, Opt, Opt, Opt>;  // cpu, cpu max, gpu, soc max

Figures figures(const auto& t) {
  return {t.cpuCelsius, t.cpuMaxCelsius, t.gpuCelsius, t.socMaxCelsius};
}

TEST(SensorsTemperatures, ControllerKeysSensorRolesAndNames) {
  // Exactly 5 and 130 are outside the controller's window; 5.1 and 129.9 inside.
  auto t = Sensors::temperatures({5.0, 5.1, 129.9, 130.0}, {40.04, 130.0}, {});
  EXPECT_EQ(figures(t), Figures(67.5, 129.9, 40.0, {}));
  EXPECT_TRUE(t.temperatures.empty());
  EXPECT_EQ(figures(Sensors::temperatures({5.0, 130.0}, {}, {})), Figures());

  // Named sensors: averaged by name, listed by name; batteries are not chips.
  std::vector<TemperatureReading> listed;
  for (auto [name, c] : std::vector<std::pair<const char*, double>>{{"PMU tdie1", 40},
                                                                    {"PMU tdie2", 50},
                                                                    {"NAND", 41},
                                                                    {"NAND", 42},
                                                                    {"GPU MTR", 45},
                                                                    {"gas gauge battery", 60},
                                                                    {"Battery BAT0", 70},
                                                                    {"Hot", 150},
                                                                    {"Cold", 0}})
    listed.push_back({name, c, Role::listed});
  t = Sensors::temperatures({}, {}, listed);
  EXPECT_EQ(figures(t), Figures(50.0, {}, 45.0, 50.0));
  EXPECT_EQ(t.temperatures, (std::vector<SensorReport::Temperature>{{"Battery BAT0", 70},
                                                                    {"GPU MTR", 45},
                                                                    {"NAND", 41.5},
                                                                    {"PMU tdie1", 40},
                                                                    {"PMU tdie2", 50},
                                                                    {"gas gauge battery", 60}}));

  // Roles, the firmware zone and the window over sensors: TemperatureSources below.
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
  second.diskRead += 4096;
  second.diskWrite -= 1;  // went backwards
  for (auto& [zone, c] : second.energy) c.microjoules += 20'000'000;
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
    EXPECT_EQ(figures(r), Figures()) << scenario;
    EXPECT_TRUE(r.temperatures.empty() && r.fans.empty()) << scenario;
    EXPECT_FALSE(r.hasFans || r.systemWatts || r.gpuPercent || r.battery) << scenario;
    EXPECT_TRUE(r.connections.has_value()) << scenario;
  }
}

// The processor's temperature comes from a sensor on the processor whenever
// there is one, and the digest says which.
// "59 coretemp": the figure and its source; "" when absent.
std::string figure(const std::optional<double>& c, const std::optional<std::string>& source) {
  if (!c) return source ? "source without figure" : "";
  std::ostringstream out;
  out << *c << " " << source.value_or("?");
  return out.str();
}

TEST(TemperatureSources, FirmwareZoneIsTheLastResortAndTheSourceIsNamed) {
  const TemperatureReading acpitz90{"acpitz", 90, Role::processorFallback};
  struct Case {
    std::vector<double> smcProcessor, smcGpu;
    std::vector<TemperatureReading> sensors;
    std::string cpu, gpu;
  };
  const Case cases[] = {
      {{}, {}, {acpitz90, {"coretemp Package id 0", 60, Role::processor}}, "60 coretemp", ""},
      {{}, {}, {{"PMU tdie1", 45, Role::listed}, acpitz90}, "45 PMU tdie1", ""},
      {{}, {}, {{"nvme Composite", 38, Role::listed}, acpitz90}, "90 acpitz", ""},
      {{},
       {},
       {{"k10temp Tdie", 50, Role::processor},
        {"zenpower Tdie", 54, Role::processor},
        {"amdgpu edge", 55, Role::gpu},
        {"nvidia gpu0", 65, Role::gpu}},
       "52 k10temp, zenpower",
       "60 amdgpu, nvidia"},
      {{70}, {50}, {{"coretemp Core 0", 58, Role::processor}}, "70 smc", "50 smc"},
      // Outside the plausible window a processor sensor is no source at all.
      {{}, {}, {{"coretemp Core 0", 200, Role::processor}, acpitz90}, "90 acpitz", ""},
      {{}, {}, {{"nvme Composite", 38, Role::listed}}, "", ""},
  };
  for (const auto& c : cases) {
    auto t = Sensors::temperatures(c.smcProcessor, c.smcGpu, c.sensors);
    EXPECT_EQ(figure(t.cpuCelsius, t.cpuSource), c.cpu) << c.cpu;
    EXPECT_EQ(figure(t.gpuCelsius, t.gpuSource), c.gpu) << c.gpu;

    SensorReport report;
    report.cpuCelsius = t.cpuCelsius;
    report.cpuSource = t.cpuSource;
    report.gpuCelsius = t.gpuCelsius;
    report.gpuSource = t.gpuSource;
    auto digest = Compact::sensors(report);
    EXPECT_EQ(digest.value("cpu_c_source", ""), t.cpuSource.value_or("")) << c.cpu;
    EXPECT_EQ(digest.value("gpu_c_source", ""), t.gpuSource.value_or("")) << c.gpu;
  }
}

}  // namespace
}  // namespace norvo
