// The sensor half of every sample: temperatures, fans, power, GPU load,
// battery, disk and network throughput and identity, from two counter
// readings. Every source that cannot be read falls back to a fixed value;
// nothing throws. The aggregation rules are OS-free static functions so
// tests can feed them plain values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/measure/network.hpp"
#include "core/measure/smc.hpp"
#include "core/platform/roots.hpp"
#include "core/platform/sensor_source.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo {

// The counters of one moment. Not serialised.
struct SensorCounters {
  double time = 0;  // seconds of system uptime
  Network::Counters interfaces;
  uint64_t diskRead = 0;   // bytes since boot over whole disks
  uint64_t diskWrite = 0;  // bytes since boot over whole disks
  // Cumulative energy by zone, for the power draw over an interval where the
  // machine offers no instantaneous whole-system figure.
  std::map<std::string, platform::EnergyCounter> energy;

  static SensorCounters now(const platform::Roots& roots = platform::Roots::system());
};

struct Sensors {
  // The report for previous → current, using the process-wide controller
  // connection (if the machine has one).
  static SensorReport read(const std::optional<SensorCounters>& since, const SensorCounters& now);

  // The same against other roots and another (or no) controller.
  static SensorReport read(const std::optional<SensorCounters>& since, const SensorCounters& now,
                           const platform::Roots& roots, SMC* smc);

  // ---- The rules, OS-free, for the reader above and for tests ----

  struct TemperatureFigures {
    std::optional<double> cpuCelsius;
    std::optional<double> cpuMaxCelsius;
    std::optional<double> gpuCelsius;
    std::optional<double> socMaxCelsius;
    std::vector<SensorReport::Temperature> temperatures;
    std::optional<std::string> cpuSource;  // the chips or zones the figure came from
    std::optional<std::string> gpuSource;
  };

  // `smcProcessor` and `smcGpu` are the controller's "Tp"/"Tg" values; the
  // sensors' roles stand in for them when the controller gives none.
  static TemperatureFigures temperatures(const std::vector<double>& smcProcessor,
                                         const std::vector<double>& smcGpu,
                                         const std::vector<platform::TemperatureReading>& sensors);

  // The controller's temperature window: 5 < value < 130.
  static bool plausibleControllerTemperature(double celsius);

  // round(value × 10) / 10.
  static double oneDecimal(double value);

  static SensorReport::Battery battery(const platform::BatteryReading& reading);

  // max(current − previous, 0.001) seconds.
  static double interval(const SensorCounters& previous, const SensorCounters& current);

  // (after − before) / seconds, 0 when the counter went backwards.
  static double rate(uint64_t before, uint64_t after, double seconds);

  // Average watts between two energy readings of the whole-platform zone; a
  // counter that wrapped is unwrapped with its range. Absent without such a
  // zone in both readings (package zones alone are not the machine).
  static std::optional<double> energyWatts(
      const std::map<std::string, platform::EnergyCounter>& before,
      const std::map<std::string, platform::EnergyCounter>& after, double seconds);

  // The first of: the controller's "PSTR", the battery's discharge power,
  // the energy counters over the interval; each kept only when 0 < w < 1000.
  static std::optional<double> systemWatts(std::optional<double> controller,
                                           std::optional<double> batteryDischarge,
                                           std::optional<double> energy);

  // now − boot time when the boot time is known, else the system uptime.
  static double uptimeSeconds(std::optional<int64_t> bootTime, double nowSince1970,
                              double systemUptime);
};

}  // namespace norvo
