#include "core/measure/sensors.hpp"

#include <gtest/gtest.h>

#include "measure/simulated_smc.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using platform::BatteryReading;
using platform::EnergyCounter;
using platform::TemperatureReading;
using platform::TemperatureRole;

TemperatureReading listed(std::string name, double c) {
  return {std::move(name), c, TemperatureRole::listed};
}

TEST(SensorsTemperatures, ControllerKeysAndWindow) {
  // Exactly 5 and 130 are outside the window; 5.1 and 129.9 inside.
  auto t = Sensors::temperatures({5.0, 5.1, 129.9, 130.0}, {40.04, 130.0}, {});
  EXPECT_EQ(t.cpuCelsius, 67.5);
  EXPECT_EQ(t.cpuMaxCelsius, 129.9);
  EXPECT_EQ(t.gpuCelsius, 40.0);
  EXPECT_FALSE(t.socMaxCelsius);
  EXPECT_TRUE(t.temperatures.empty());

  // Only out-of-window keys: nothing from the controller.
  t = Sensors::temperatures({5.0, 130.0}, {}, {});
  EXPECT_FALSE(t.cpuCelsius);
  EXPECT_FALSE(t.cpuMaxCelsius);
}

TEST(SensorsTemperatures, ListedSensorsAndNameFallbacks) {
  std::vector<TemperatureReading> s = {
      listed("PMU tdie1", 40.0),  listed("PMU tdie2", 50.0), listed("NAND", 41.0),
      listed("NAND", 42.0),       listed("GPU MTR", 45.0),   listed("gas gauge battery", 60),
      listed("Battery BAT0", 70), listed("Hot", 150.0),      listed("Cold", 0.0)};
  auto t = Sensors::temperatures({}, {}, s);
  EXPECT_EQ(t.cpuCelsius, 50.0);
  EXPECT_FALSE(t.cpuMaxCelsius);
  EXPECT_EQ(t.gpuCelsius, 45.0);
  EXPECT_EQ(t.socMaxCelsius, 50.0);  // batteries and the gas gauge are not chips
  std::vector<SensorReport::Temperature> expected = {
      {"Battery BAT0", 70}, {"GPU MTR", 45},   {"NAND", 41.5},
      {"PMU tdie1", 40},    {"PMU tdie2", 50}, {"gas gauge battery", 60}};
  EXPECT_EQ(t.temperatures, expected);
}

TEST(SensorsTemperatures, RolesStandInForControllerKeys) {
  std::vector<TemperatureReading> s = {
      {"coretemp Package id 0", 62, TemperatureRole::processor},
      {"coretemp Core 0", 58, TemperatureRole::processor},
      {"coretemp Core 1", 131, TemperatureRole::processor},  // outside the window
      {"acpitz", 90, TemperatureRole::processorFallback},
      {"amdgpu edge", 55, TemperatureRole::gpu},
      {"amdgpu junction", 61.1, TemperatureRole::gpu}};
  auto t = Sensors::temperatures({}, {}, s);
  EXPECT_EQ(t.cpuCelsius, 60.0);
  EXPECT_EQ(t.cpuMaxCelsius, 62.0);
  EXPECT_EQ(t.gpuCelsius, 58.1);  // 58.05 rounds away from zero
  EXPECT_EQ(t.socMaxCelsius, 131.0);

  // The controller wins over the sensors when it has keys.
  t = Sensors::temperatures({40}, {30}, s);
  EXPECT_EQ(t.cpuCelsius, 40);
  EXPECT_EQ(t.gpuCelsius, 30);

  // The firmware zone counts only when no dedicated sensor does; like a
  // named sensor it gives no maximum.
  t = Sensors::temperatures({}, {}, {{"acpitz", 47.94, TemperatureRole::processorFallback}});
  EXPECT_EQ(t.cpuCelsius, 47.9);
  EXPECT_FALSE(t.cpuMaxCelsius);
}

TEST(SensorsBattery, FromReading) {
  BatteryReading r;
  EXPECT_EQ(Sensors::battery(r).percent, 0);  // defaults: current 0 of 100
  r.currentCapacity = 3;
  r.maxCapacity = 4;
  EXPECT_EQ(Sensors::battery(r).percent, 75);
  r.currentCapacity = 2;
  r.maxCapacity = 3;
  EXPECT_EQ(Sensors::battery(r).percent, 66);  // integer division
  r.currentCapacity = 57;
  r.maxCapacity = 0;
  EXPECT_EQ(Sensors::battery(r).percent, 57);  // no division by zero

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
}

TEST(SensorsRates, IntervalsAndBackwardCounters) {
  SensorCounters a, b;
  a.time = 10;
  b.time = 10;
  EXPECT_EQ(Sensors::interval(a, b), 0.001);
  b.time = 12;
  EXPECT_EQ(Sensors::interval(a, b), 2);
  EXPECT_EQ(Sensors::rate(100, 300, 2), 100);
  EXPECT_EQ(Sensors::rate(300, 100, 2), 0);  // a disk went away
  EXPECT_EQ(Sensors::rate(0, UINT64_MAX, 1), static_cast<double>(UINT64_MAX));
}

TEST(SensorsPower, EnergyCountersAndSourceOrder) {
  std::map<std::string, EnergyCounter> before{{"pkg", {1'000'000, 10'000'000, false}},
                                              {"psys", {5'000'000, 10'000'000, true}}};
  std::map<std::string, EnergyCounter> after{{"pkg", {3'000'000, 10'000'000, false}},
                                             {"psys", {9'000'000, 10'000'000, true}}};
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
}

TEST(SensorsUptime, BootTimeElseSystemUptime) {
  EXPECT_EQ(Sensors::uptimeSeconds(1'700'000'000, 1'700'000'100.5, 7), 100.5);
  EXPECT_EQ(Sensors::uptimeSeconds(std::nullopt, 1'700'000'100, 7), 7);
}

// ---- Whole reports from fixture trees ----

SensorReport fixtureReport(const std::string& scenario, SMC* smc = nullptr) {
  auto roots = platform::Roots::under(test::fixture("linux/" + scenario));
  auto first = SensorCounters::now(roots);
  auto second = first;
  second.time = first.time + 2;
  second.diskRead += 4096;
  second.diskWrite -= 1;  // went backwards
  for (auto& [zone, c] : second.energy) c.microjoules += 20'000'000;
  return Sensors::read(first, second, roots, smc);
}

TEST(SensorsFixtures, LaptopOnBattery) {
  auto r = fixtureReport("laptop");
  EXPECT_EQ(r.model, "20XW0055GE");
  EXPECT_EQ(r.chip, "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz");
  EXPECT_EQ(r.osVersion, "Fedora Linux 40 (Workstation Edition), Linux 6.8.5-301.fc40.x86_64");
  EXPECT_GT(r.uptimeSeconds, 0);
  EXPECT_EQ(r.cpuCelsius, 60.2);  // (62 + 58 + 60.5) / 3, acpitz left aside
  EXPECT_EQ(r.cpuMaxCelsius, 62);
  EXPECT_FALSE(r.gpuCelsius);
  EXPECT_EQ(r.socMaxCelsius, 62);  // the battery's 31 °C is not a chip
  std::vector<std::string> names;
  for (const auto& t : r.temperatures) names.push_back(t.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Battery BAT0", "acpitz", "coretemp Core 0",
                                             "coretemp Core 1", "coretemp Package id 0",
                                             "iwlwifi_1", "nvme Composite", "thinkpad temp1"}));
  ASSERT_EQ(r.fans.size(), 2u);
  EXPECT_EQ(r.fans[0], (FanInfo{0, 2100, 0, 5200, std::nullopt, false}));
  EXPECT_EQ(r.fans[1], (FanInfo{1, 2400, 1200, 0, 2500, true}));
  EXPECT_TRUE(r.hasFans);
  EXPECT_EQ(r.systemWatts, 9.5);  // battery discharge beats the energy counters
  ASSERT_TRUE(r.battery);
  EXPECT_EQ(r.battery->percent, 76);
  EXPECT_FALSE(r.battery->charging);
  EXPECT_FALSE(r.battery->onAC);
  EXPECT_EQ(r.battery->minutesLeft, 240);  // 38 Wh at 9.5 W
  EXPECT_EQ(r.battery->cycleCount, 312);
  EXPECT_EQ(r.battery->healthPercent, 88);
  EXPECT_FALSE(r.battery->celsius);
  EXPECT_FALSE(r.gpuPercent);
  EXPECT_EQ(r.diskReadBytesPerSec, 2048);
  EXPECT_EQ(r.diskWriteBytesPerSec, 0);
  EXPECT_EQ(r.networkInBytesPerSec, 0);  // counters unchanged between the readings
}

TEST(SensorsFixtures, DesktopWithDiscreteGpu) {
  auto r = fixtureReport("desktop");
  EXPECT_EQ(r.model, "MS-7D25");
  EXPECT_EQ(r.chip, "AMD Ryzen 9 5950X 16-Core Processor");
  EXPECT_EQ(r.cpuCelsius, 52);  // Tdie and the CCDs; the offset Tctl is listed only
  EXPECT_EQ(r.cpuMaxCelsius, 54);
  EXPECT_EQ(r.gpuCelsius, 58);  // edge and junction, not memory
  EXPECT_EQ(r.socMaxCelsius, 72);
  bool sawNvme = false;
  for (const auto& t : r.temperatures)
    if (t.name == "nvme Composite") {
      sawNvme = true;
      EXPECT_EQ(t.celsius, 40.9);  // two drives, one name: averaged
    }
  EXPECT_TRUE(sawNvme);
  ASSERT_EQ(r.fans.size(), 3u);
  EXPECT_EQ(r.fans[0].rpm, 1100);
  EXPECT_EQ(r.fans[2], (FanInfo{2, 0, 200, 0, std::nullopt, true}));
  EXPECT_EQ(r.gpuPercent, 37);
  EXPECT_FALSE(r.battery);
  EXPECT_FALSE(r.systemWatts);  // a package counter alone is not the whole machine
}

TEST(SensorsFixtures, BareMachineGivesEveryFallback) {
  for (const char* scenario : {"bare_vm", "bare_vm_sensors"}) {
    SCOPED_TRACE(scenario);
    auto r = fixtureReport(scenario);
    EXPECT_EQ(r.model, "Mac");
    EXPECT_EQ(r.chip, "");
    EXPECT_FALSE(r.cpuCelsius);
    EXPECT_FALSE(r.cpuMaxCelsius);
    EXPECT_FALSE(r.gpuCelsius);
    EXPECT_FALSE(r.socMaxCelsius);
    EXPECT_TRUE(r.temperatures.empty());
    EXPECT_TRUE(r.fans.empty());
    EXPECT_FALSE(r.hasFans);
    EXPECT_FALSE(r.systemWatts);
    EXPECT_FALSE(r.gpuPercent);
    EXPECT_FALSE(r.battery);
    EXPECT_TRUE(r.connections.has_value());
  }
  EXPECT_EQ(fixtureReport("bare_vm").osVersion, "");
  EXPECT_EQ(fixtureReport("bare_vm_sensors").osVersion, "Debian GNU/Lin");
}

TEST(SensorsFixtures, ControllerTakesOverFansPowerAndTemperatures) {
  auto state = std::make_shared<test::SimulatedSmc::State>();
  state->set("FNum", "ui8 ", {1});
  state->set("F0Ac", "fpe2", {0x1C, 0x20});  // 1800 rpm
  state->set("PSTR", "flt ", test::SimulatedSmc::floatBytes(23.5));
  state->set("Tp01", "flt ", test::SimulatedSmc::floatBytes(70));
  state->set("Tg01", "flt ", test::SimulatedSmc::floatBytes(50));
  SMC smc(std::make_unique<test::SimulatedSmc>(state));
  auto r = fixtureReport("laptop", &smc);
  ASSERT_EQ(r.fans.size(), 1u);
  EXPECT_EQ(r.fans[0].rpm, 1800);
  EXPECT_EQ(r.systemWatts, 23.5);
  EXPECT_EQ(r.cpuCelsius, 70);
  EXPECT_EQ(r.cpuMaxCelsius, 70);
  EXPECT_EQ(r.gpuCelsius, 50);

  state->set("PSTR", "flt ", test::SimulatedSmc::floatBytes(0));
  EXPECT_EQ(fixtureReport("laptop", &smc).systemWatts, 9.5);
}

TEST(SensorsFixtures, FirstReadingHasNoRates) {
  auto roots = platform::Roots::under(test::fixture("linux/desktop"));
  auto r = Sensors::read(std::nullopt, SensorCounters::now(roots), roots, nullptr);
  EXPECT_EQ(r.diskReadBytesPerSec, 0);
  EXPECT_EQ(r.diskWriteBytesPerSec, 0);
  EXPECT_EQ(r.networkInBytesPerSec, 0);
  EXPECT_EQ(r.networkOutBytesPerSec, 0);
  EXPECT_FALSE(r.systemWatts);  // energy needs two readings
  ASSERT_TRUE(r.connections);
  for (const auto& c : *r.connections) EXPECT_EQ(c.inBytesPerSec + c.outBytesPerSec, 0);
}

// On the machine running the tests: invariants only.
TEST(SensorsRealMachine, Invariants) {
  auto first = SensorCounters::now();
  auto second = SensorCounters::now();
  EXPECT_GE(second.time, first.time);
  auto r = Sensors::read(first, second);
  EXPECT_GT(r.uptimeSeconds, 0);
  EXPECT_LT(r.uptimeSeconds, second.time + 2);  // boot time is whole seconds
  for (const auto& t : r.temperatures) {
    EXPECT_GT(t.celsius, 0) << t.name;
    EXPECT_LT(t.celsius, 150) << t.name;
  }
  EXPECT_GE(r.diskReadBytesPerSec, 0);
  EXPECT_GE(r.networkInBytesPerSec, 0);
  ASSERT_TRUE(r.connections);
  for (const auto& c : *r.connections) EXPECT_FALSE(Network::isExcluded(c.bsdName));
  if (r.battery) {
    EXPECT_LE(r.battery->healthPercent.value_or(0), 100);
  }
}

TEST(SmcOpen, NoControllerWithoutTheDriver) {
  EXPECT_FALSE(SMC::open(platform::Roots::under(test::fixture("linux/laptop"))));
  test::TempDir dir;
  dir.write("sys/devices/platform/applesmc.768/key_count", "0\n");
  EXPECT_FALSE(SMC::open(platform::Roots::under(dir.path())));
  dir.write("sys/devices/platform/applesmc.768/key_count", "junk\n");
  EXPECT_FALSE(SMC::open(platform::Roots::under(dir.path())));
}

// The driver's key table, frozen at one key: enough for lookup, reading,
// listing and the fan writes the driver carries.
TEST(SmcOpen, AppleSmcDriverTable) {
  test::TempDir dir;
  auto base = std::filesystem::path("sys/devices/platform/applesmc.768");
  dir.write(base / "key_count", "1\n");
  dir.write(base / "key_at_index", "0\n");
  dir.write(base / "key_at_index_name", "F0Tg\n");
  dir.write(base / "key_at_index_type", "fpe2\n");
  dir.write(base / "key_at_index_data_length", "2\n");
  dir.write(base / "key_at_index_data", std::string("\x1c\x20", 2));
  dir.write(base / "fan1_output", "0\n");
  auto smc = SMC::open(platform::Roots::under(dir.path()));
  ASSERT_TRUE(smc);
  EXPECT_EQ(smc->allKeys(), (std::vector<std::string>{"F0Tg"}));
  EXPECT_EQ(smc->number("F0Tg"), 1800);
  EXPECT_EQ(smc->number("#KEY"), 1);
  EXPECT_FALSE(smc->read("A000"));
  EXPECT_FALSE(smc->read("ZZZZ"));
  EXPECT_TRUE(smc->write("F0Tg", 2000.0));
  EXPECT_EQ(test::readFile(dir.path() / base / "fan1_output").substr(0, 4), "2000");
  EXPECT_TRUE(smc->temperatureKeys().processor.empty());
}

}  // namespace
}  // namespace norvo
