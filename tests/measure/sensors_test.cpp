#include "core/measure/sensors.hpp"

#include <gtest/gtest.h>
#include <sys/utsname.h>

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

  std::vector<TemperatureReading> roles = {{"coretemp Package id 0", 62, Role::processor},
                                           {"coretemp Core 0", 58, Role::processor},
                                           {"coretemp Core 1", 131, Role::processor},
                                           {"acpitz", 90, Role::processorFallback},
                                           {"amdgpu edge", 55, Role::gpu},
                                           {"amdgpu junction", 61.1, Role::gpu}};
  // 131 is outside the window; 58.05 rounds away from zero.
  EXPECT_EQ(figures(Sensors::temperatures({}, {}, roles)), Figures(60.0, 62.0, 58.1, 131.0));
  // The controller wins over the sensors when it has keys.
  t = Sensors::temperatures({40}, {30}, roles);
  EXPECT_EQ(t.cpuCelsius, 40);
  EXPECT_EQ(t.gpuCelsius, 30);
  // The firmware zone counts only when no dedicated sensor does, and gives no maximum.
  t = Sensors::temperatures({}, {}, {{"acpitz", 47.94, Role::processorFallback}});
  EXPECT_EQ(t.cpuCelsius, 47.9);
  EXPECT_FALSE(t.cpuMaxCelsius);
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

TEST(SensorsFixtures, LaptopOnBattery) {
  auto r = fixtureReport("laptop");
  EXPECT_EQ(r.chip, "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz");
  EXPECT_EQ(r.osVersion, "Fedora Linux 40 (Workstation Edition), Linux 6.8.5-301.fc40.x86_64");
  // (62 + 58 + 60.5) / 3 with acpitz left aside; the battery's 31 °C is not a chip.
  EXPECT_EQ(figures(r), Figures(60.2, 62, {}, 62));
  std::vector<std::string> names;
  for (const auto& t : r.temperatures) names.push_back(t.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Battery BAT0", "acpitz", "coretemp Core 0",
                                             "coretemp Core 1", "coretemp Package id 0",
                                             "iwlwifi_1", "nvme Composite", "thinkpad temp1"}));
  EXPECT_EQ(r.fans, (std::vector<FanInfo>{{0, 2100, 0, 5200, std::nullopt, false},
                                          {1, 2400, 1200, 0, 2500, true}}));
  EXPECT_TRUE(r.hasFans);
  EXPECT_EQ(r.systemWatts, 9.5);  // battery discharge beats the energy counters
  // 38 Wh at 9.5 W: four hours.
  EXPECT_EQ(r.battery, (SensorReport::Battery{76, false, false, 240, 312, 88, std::nullopt, {}}));
  EXPECT_FALSE(r.gpuPercent);
  EXPECT_EQ(r.diskReadBytesPerSec, 2048);
  EXPECT_EQ(r.diskWriteBytesPerSec, 0);
  EXPECT_EQ(r.networkInBytesPerSec, 0);  // counters unchanged between the readings
}

TEST(SensorsFixtures, DesktopWithDiscreteGpuAndTheFirstReading) {
  auto r = fixtureReport("desktop");
  EXPECT_EQ(r.chip, "AMD Ryzen 9 5950X 16-Core Processor");
  // Tdie and the CCDs, the offset Tctl listed only; edge and junction, not memory.
  EXPECT_EQ(figures(r), Figures(52, 54, 58, 72));
  std::vector<double> nvme;
  for (const auto& t : r.temperatures)
    if (t.name == "nvme Composite") nvme.push_back(t.celsius);
  EXPECT_EQ(nvme, std::vector<double>{40.9});  // two drives, one name: averaged
  ASSERT_EQ(r.fans.size(), 3u);
  EXPECT_EQ(r.fans[0].rpm, 1100);
  EXPECT_EQ(r.fans[2], (FanInfo{2, 0, 200, 0, std::nullopt, true}));
  EXPECT_EQ(r.gpuPercent, 37);
  EXPECT_FALSE(r.battery);
  EXPECT_FALSE(r.systemWatts);  // a package counter alone is not the whole machine

  auto roots = platform::Roots::under(test::fixture("linux/desktop"));
  auto first = Sensors::read(std::nullopt, SensorCounters::now(roots), roots, nullptr);
  EXPECT_EQ(first.diskReadBytesPerSec + first.diskWriteBytesPerSec + first.networkInBytesPerSec +
                first.networkOutBytesPerSec,
            0);
  EXPECT_FALSE(first.systemWatts);  // energy needs two readings
  ASSERT_TRUE(first.connections);
  for (const auto& c : *first.connections) EXPECT_EQ(c.inBytesPerSec + c.outBytesPerSec, 0);
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

TEST(SmcOpen, OnlyWithTheDriverAndThroughItsKeyTable) {
  test::TempDir dir;
  auto base = std::filesystem::path("sys/devices/platform/applesmc.768");
  EXPECT_FALSE(SMC::open(platform::Roots::under(test::fixture("linux/laptop"))));
  for (const char* count : {"0\n", "junk\n"}) {
    dir.write(base / "key_count", count);
    EXPECT_FALSE(SMC::open(platform::Roots::under(dir.path()))) << count;
  }
  // The driver's key table, frozen at one key: enough for lookup, reading
  // and listing.
  dir.write(base / "key_count", "1\n");
  dir.write(base / "key_at_index", "0\n");
  dir.write(base / "key_at_index_name", "F0Tg\n");
  dir.write(base / "key_at_index_type", "fpe2\n");
  dir.write(base / "key_at_index_data_length", "2\n");
  dir.write(base / "key_at_index_data", std::string("\x1c\x20", 2));
  auto smc = SMC::open(platform::Roots::under(dir.path()));
  ASSERT_TRUE(smc);
  EXPECT_EQ(smc->allKeys(), (std::vector<std::string>{"F0Tg"}));
  EXPECT_EQ(smc->number("F0Tg"), 1800);
  EXPECT_EQ(smc->number("#KEY"), 1);
  EXPECT_FALSE(smc->read("A000"));
  EXPECT_FALSE(smc->read("ZZZZ"));
  EXPECT_TRUE(smc->temperatureKeys().processor.empty());
}

}  // namespace
}  // namespace norvo
