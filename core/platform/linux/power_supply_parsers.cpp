#include "core/platform/linux/power_supply_parsers.hpp"

#include <cmath>
#include <cstdlib>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

namespace {

std::optional<int64_t> number(const SupplyAttributes& s, const std::string& key) {
  auto it = s.find(key);
  if (it == s.end()) return std::nullopt;
  return text_file::parseSigned(text_file::trim(it->second));
}

std::optional<std::string> text(const SupplyAttributes& s, const std::string& key) {
  auto it = s.find(key);
  if (it == s.end()) return std::nullopt;
  return std::string(text_file::trim(it->second));
}

// Batteries report either energy (µWh, with power in µW) or charge (µAh,
// with current in µA); the pair that exists is used throughout.
struct Units {
  const char* now;
  const char* full;
  const char* design;
  const char* rate;
};
constexpr Units energy{"energy_now", "energy_full", "energy_full_design", "power_now"};
constexpr Units charge{"charge_now", "charge_full", "charge_full_design", "current_now"};

}  // namespace

bool isSystemBattery(const SupplyAttributes& supply) {
  return text(supply, "type") == "Battery" && text(supply, "scope") != "Device";
}

BatteryReading batteryReading(const SupplyAttributes& battery,
                              const std::vector<SupplyAttributes>& others) {
  BatteryReading r;
  const Units& u = number(battery, energy.full) ? energy : charge;
  auto status = text(battery, "status").value_or("");
  bool discharging = status == "Discharging";

  if (auto capacity = number(battery, "capacity")) {
    r.currentCapacity = *capacity;
    r.maxCapacity = 100;
  } else {
    r.currentCapacity = number(battery, u.now);
    r.maxCapacity = number(battery, u.full);
  }
  r.charging = status == "Charging";

  // External power: an online adapter; without any adapter that says, a
  // battery that is not discharging is on external power.
  std::optional<bool> adapterOnline;
  for (const auto& s : others) {
    if (text(s, "type") == "Battery" || text(s, "scope") == "Device") continue;
    auto online = number(s, "online");
    if (!online) continue;
    adapterOnline = adapterOnline.value_or(false) || *online == 1;
    if (*online != 1) continue;
    // USB Power Delivery supplies state the contract they negotiated.
    auto volts = number(s, "voltage_max");
    auto amps = number(s, "current_max");
    if (volts && amps && *volts > 0 && *amps > 0) {
      double watts = static_cast<double>(*volts) / 1e6 * static_cast<double>(*amps) / 1e6;
      r.adapterWatts = std::max(r.adapterWatts.value_or(0), watts);
    }
  }
  r.onAC = adapterOnline.value_or(!discharging && !status.empty());

  if (auto seconds = number(battery, "time_to_empty_now")) {
    r.minutesToEmpty = *seconds / 60;
  } else if (discharging) {
    auto now = number(battery, u.now);
    auto rate = number(battery, u.rate);
    if (now && rate && *rate != 0)
      r.minutesToEmpty = static_cast<int64_t>(static_cast<double>(*now) * 60.0 /
                                              std::fabs(static_cast<double>(*rate)));
  }

  r.cycleCount = number(battery, "cycle_count");
  r.fullChargeCapacity = number(battery, u.full);
  r.designCapacity = number(battery, u.design);
  if (auto tenths = number(battery, "temp")) r.celsius = static_cast<double>(*tenths) / 10.0;

  // Whole-system draw while the battery alone feeds the machine. Some
  // drivers sign the discharge current negative.
  if (discharging) {
    if (auto power = number(battery, "power_now")) {
      r.dischargeWatts = std::fabs(static_cast<double>(*power)) / 1e6;
    } else if (auto volts = number(battery, "voltage_now"), amps = number(battery, "current_now");
               volts && amps) {
      r.dischargeWatts =
          std::fabs(static_cast<double>(*volts) / 1e6 * static_cast<double>(*amps) / 1e6);
    }
  }
  return r;
}

}  // namespace norvo::platform::parse
