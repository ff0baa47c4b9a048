// The processor's temperature comes from a sensor on the processor whenever
// there is one, and the digest says which; the machine's power comes only
// from a source that sees the whole machine.
#include <gtest/gtest.h>

#include <sstream>

#include "core/assess/compact.hpp"
#include "core/measure/sensors.hpp"

namespace norvo {
namespace {

using platform::EnergyCounter;
using platform::TemperatureReading;
using Role = platform::TemperatureRole;

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

TEST(SystemWatts, OnlyAWholeSystemSource) {
  using Zones = std::map<std::string, EnergyCounter>;
  const Zones package0{{"package-0", {0, 0, false}}};
  const Zones package30{{"package-0", {30'000'000, 0, false}}};
  const Zones both0{{"psys", {0, 0, true}}, {"package-0", {0, 0, false}}};
  const Zones both50{{"psys", {50'000'000, 0, true}}, {"package-0", {30'000'000, 0, false}}};
  struct Case {
    const char* name;
    Zones before, after;
    std::optional<double> battery, watts;
  };
  const Case cases[] = {
      {"package zone only", package0, package30, std::nullopt, std::nullopt},
      {"psys beside the package", both0, both50, std::nullopt, 25},
      {"on battery with a package zone", package0, package30, 9.5, 9.5},
      {"psys in one reading only", package0, both50, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto energy = Sensors::energyWatts(c.before, c.after, 2);
    EXPECT_EQ(Sensors::systemWatts(std::nullopt, c.battery, energy), c.watts) << c.name;
  }
}

}  // namespace
}  // namespace norvo
