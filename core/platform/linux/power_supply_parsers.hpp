// The internal battery from /sys/class/power_supply attributes
// (Documentation/ABI/testing/sysfs-class-power). Pure: the reader loads each
// supply's attribute files into a map and these functions decide.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/sensor_source.hpp"

namespace norvo::platform::parse {

// Attribute file name → its first line.
using SupplyAttributes = std::map<std::string, std::string>;

// A battery that powers this machine, not a mouse's or a headset's
// ("scope" Device marks those).
bool isSystemBattery(const SupplyAttributes& supply);

// The reading of `battery`, with the machine's other supplies (adapters)
// telling whether it runs on external power and what the adapter offers.
BatteryReading batteryReading(const SupplyAttributes& battery,
                              const std::vector<SupplyAttributes>& others);

}  // namespace norvo::platform::parse
