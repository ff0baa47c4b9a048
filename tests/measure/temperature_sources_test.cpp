// The processor's temperature comes from a sensor on the processor whenever
// there is one, and the digest says which; the machine's power comes only
// from a source that sees the whole machine.
#include <gtest/gtest.h>

#include "core/assess/compact.hpp"
#include "core/measure/sensors.hpp"

namespace norvo {
namespace {

using platform::EnergyCounter;
using platform::TemperatureReading;
using Role = platform::TemperatureRole;

TEST(TemperatureSources, FirmwareZoneIsTheLastResortAndTheSourceIsNamed) {
  struct Case {
    const char* name;
    std::vector<double> smcProcessor, smcGpu;
    std::vector<TemperatureReading> sensors;
    std::optional<double> cpu;
    std::optional<std::string> cpuSource;
    std::optional<double> gpu;
    std::optional<std::string> gpuSource;
  };
  const Case cases[] = {
      {"package sensor and firmware zone",
       {},
       {},
       {{"acpitz", 90, Role::processorFallback},
        {"coretemp Package id 0", 60, Role::processor},
        {"coretemp Core 0", 58, Role::processor}},
       59,
       "coretemp",
       std::nullopt,
       std::nullopt},
      {"named die sensors beat the firmware zone",
       {},
       {},
       {{"PMU tdie1", 45, Role::listed}, {"acpitz", 90, Role::processorFallback}},
       45,
       "PMU tdie1",
       std::nullopt,
       std::nullopt},
      {"firmware zone alone",
       {},
       {},
       {{"nvme Composite", 38, Role::listed}, {"acpitz", 47, Role::processorFallback}},
       47,
       "acpitz",
       std::nullopt,
       std::nullopt},
      {"two processor chips and a GPU",
       {},
       {},
       {{"k10temp Tdie", 50, Role::processor},
        {"zenpower Tdie", 54, Role::processor},
        {"amdgpu edge", 55, Role::gpu},
        {"amdgpu junction", 65, Role::gpu}},
       52,
       "k10temp, zenpower",
       60,
       "amdgpu"},
      {"the controller",
       {70},
       {50},
       {{"coretemp Core 0", 58, Role::processor}},
       70,
       "smc",
       50,
       "smc"},
      {"a sensor outside the window is no source",
       {},
       {},
       {{"coretemp Core 0", 200, Role::processor}, {"acpitz", 40, Role::processorFallback}},
       40,
       "acpitz",
       std::nullopt,
       std::nullopt},
      {"nothing",
       {},
       {},
       {{"nvme Composite", 38, Role::listed}},
       std::nullopt,
       std::nullopt,
       std::nullopt,
       std::nullopt},
  };
  for (const auto& c : cases) {
    auto t = Sensors::temperatures(c.smcProcessor, c.smcGpu, c.sensors);
    EXPECT_EQ(t.cpuCelsius, c.cpu) << c.name;
    EXPECT_EQ(t.cpuSource, c.cpuSource) << c.name;
    EXPECT_EQ(t.gpuCelsius, c.gpu) << c.name;
    EXPECT_EQ(t.gpuSource, c.gpuSource) << c.name;

    SensorReport report;
    report.cpuCelsius = t.cpuCelsius;
    report.cpuSource = t.cpuSource;
    report.gpuCelsius = t.gpuCelsius;
    report.gpuSource = t.gpuSource;
    auto digest = Compact::sensors(report);
    EXPECT_EQ(digest.contains("cpu_c_source"), c.cpuSource.has_value()) << c.name;
    if (c.cpuSource) {
      EXPECT_EQ(digest["cpu_c_source"], *c.cpuSource) << c.name;
    }
    EXPECT_EQ(digest.contains("gpu_c_source"), c.gpuSource.has_value()) << c.name;
  }
}

TEST(SystemWatts, OnlyAWholeSystemSource) {
  using Zones = std::map<std::string, EnergyCounter>;
  struct Case {
    const char* name;
    Zones before, after;
    std::optional<double> battery;
    std::optional<double> watts;
  };
  const Case cases[] = {
      {"package zones only",
       {{"package-0", {0, 0, false}}, {"dram", {0, 0, false}}},
       {{"package-0", {30'000'000, 0, false}}, {"dram", {2'000'000, 0, false}}},
       std::nullopt,
       std::nullopt},
      {"psys beside the package",
       {{"psys", {0, 0, true}}, {"package-0", {0, 0, false}}},
       {{"psys", {50'000'000, 0, true}}, {"package-0", {30'000'000, 0, false}}},
       std::nullopt,
       25},
      {"on battery with a package zone",
       {{"package-0", {0, 0, false}}},
       {{"package-0", {30'000'000, 0, false}}},
       9.5,
       9.5},
      {"psys in one reading only",
       {{"package-0", {0, 0, false}}},
       {{"psys", {50'000'000, 0, true}}, {"package-0", {30'000'000, 0, false}}},
       std::nullopt,
       std::nullopt},
  };
  for (const auto& c : cases) {
    auto energy = Sensors::energyWatts(c.before, c.after, 2);
    EXPECT_EQ(Sensors::systemWatts(std::nullopt, c.battery, energy), c.watts) << c.name;
  }
}

}  // namespace
}  // namespace norvo
