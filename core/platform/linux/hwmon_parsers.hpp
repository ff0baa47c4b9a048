// Which Linux temperature sensor stands for what, in one place. The report
// averages "processor" and "GPU" sensors the way it averages the
// controller's processor and GPU keys; every sensor also appears in the
// report's list under the name built here. Pure functions over values read
// from /sys/class/hwmon and /sys/class/thermal, so tests need no hardware.
//
// The mapping (chip names as the kernel drivers register them):
//   coretemp (Intel)        "Package id N", "Core N"          → processor
//   k10temp, zenpower (AMD) "Tdie", "TccdN"                   → processor
//                           "Tctl"                            → processor only when the chip
//                             has no "Tdie": on some models Tctl carries a fan-control
//                             offset (+20 or +27 °C) and Tdie is the true die temperature
//   cpu_thermal (ARM boards)                                  → processor
//   applesmc (Intel Macs)   "TC…"                             → processor; "TG…" → GPU
//   amdgpu                  "edge", "junction"                → GPU ("mem" is listed only)
//   radeon, nouveau                                           → GPU
//   acpitz (firmware zone)                                    → processor only when the
//                             machine has no processor sensor above; it tracks the
//                             package loosely and often lags or sticks at a constant
//   nvme "Composite", drivetemp, wifi, PCH and the rest       → listed only
//   a power supply's own sensor (its device is a battery)     → listed as "Battery …",
//                             which keeps it out of the hottest-chip figure
// Thermal zones, read only when hwmon offers no temperature at all, map by
// zone type the same way: x86_pkg_temp and cpu* → processor, acpitz →
// processor fallback, *gpu* → GPU.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/sensor_source.hpp"

namespace norvo::platform::parse {

struct HwmonInput {
  int index = 0;                     // N of tempN_input
  std::optional<std::string> label;  // tempN_label
  double celsius = 0;
};

struct HwmonChip {
  std::string name;      // the chip's "name" attribute
  bool battery = false;  // the chip belongs to a battery power supply
  std::vector<HwmonInput> inputs;
};

// The report names and roles of one chip's temperature inputs. An input
// without a label is named after the chip alone when it is the chip's only
// input, else "<chip> tempN".
std::vector<TemperatureReading> hwmonTemperatures(const HwmonChip& chip);

// One thermal zone by its type.
TemperatureReading thermalZoneTemperature(std::string_view type, double celsius);

// A sysfs temperature in millidegrees ("45000\n" → 45.0); absent for anything else.
std::optional<double> millidegrees(std::string_view text);

}  // namespace norvo::platform::parse
