#include "core/platform/linux/hwmon_parsers.hpp"

#include <algorithm>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

TemperatureRole roleFor(const HwmonChip& chip, std::string_view label) {
  std::string_view name = chip.name;
  if (name == "coretemp") {
    if (startsWith(label, "Package id") || startsWith(label, "Core ") ||
        startsWith(label, "Physical id"))
      return TemperatureRole::processor;
    return TemperatureRole::listed;
  }
  if (name == "k10temp" || name == "zenpower") {
    if (label == "Tdie" || startsWith(label, "Tccd")) return TemperatureRole::processor;
    if (label == "Tctl") {
      bool hasTdie = std::any_of(chip.inputs.begin(), chip.inputs.end(),
                                 [](const HwmonInput& i) { return i.label == "Tdie"; });
      return hasTdie ? TemperatureRole::listed : TemperatureRole::processor;
    }
    return TemperatureRole::listed;
  }
  if (name == "cpu_thermal") return TemperatureRole::processor;
  if (name == "applesmc") {
    if (startsWith(label, "TC")) return TemperatureRole::processor;
    if (startsWith(label, "TG")) return TemperatureRole::gpu;
    return TemperatureRole::listed;
  }
  if (name == "amdgpu")
    return label == "edge" || label == "junction" ? TemperatureRole::gpu : TemperatureRole::listed;
  if (name == "radeon" || name == "nouveau") return TemperatureRole::gpu;
  if (name == "acpitz") return TemperatureRole::processorFallback;
  return TemperatureRole::listed;
}

}  // namespace

std::vector<TemperatureReading> hwmonTemperatures(const HwmonChip& chip) {
  std::vector<TemperatureReading> out;
  for (const auto& input : chip.inputs) {
    std::string name;
    if (input.label) {
      name = chip.name + " " + *input.label;
    } else if (chip.inputs.size() == 1) {
      name = chip.name;
    } else {
      name = chip.name + " temp" + std::to_string(input.index);
    }
    TemperatureReading r;
    r.celsius = input.celsius;
    if (chip.battery) {
      r.name = "Battery " + name;
      r.role = TemperatureRole::listed;
    } else {
      r.name = std::move(name);
      r.role = roleFor(chip, input.label.value_or(""));
    }
    out.push_back(std::move(r));
  }
  return out;
}

TemperatureReading thermalZoneTemperature(std::string_view type, double celsius) {
  TemperatureReading r{std::string(type), celsius, TemperatureRole::listed};
  if (type == "x86_pkg_temp" || startsWith(type, "cpu")) {
    r.role = TemperatureRole::processor;
  } else if (type == "acpitz") {
    r.role = TemperatureRole::processorFallback;
  } else if (type.find("gpu") != std::string_view::npos) {
    r.role = TemperatureRole::gpu;
  }
  return r;
}

std::optional<double> millidegrees(std::string_view text) {
  auto value = text_file::parseSigned(text_file::trim(text));
  if (!value) return std::nullopt;
  return static_cast<double>(*value) / 1000.0;
}

}  // namespace norvo::platform::parse
