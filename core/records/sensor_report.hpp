// Hardware figures the ordinary statistics do not give: temperatures, fans,
// power, GPU load, battery, disk and network throughput, and identity facts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records/json_codec.hpp"
#include "core/records/network_connection.hpp"

namespace norvo {

class SMC;

struct FanInfo {
  int64_t id = 0;  // 0-based fan index
  double rpm = 0;
  double minRPM = 0;
  double maxRPM = 0;
  std::optional<double> targetRPM;
  bool manual = false;

  // Fans 0 … "FNum"−1 as the controller describes them (defined with SMC);
  // fans without an actual speed are left out.
  static std::vector<FanInfo> read(SMC& smc);

  friend bool operator==(const FanInfo&, const FanInfo&) = default;
};

struct SensorReport {
  struct Temperature {
    std::string name;
    double celsius = 0;  // one decimal

    friend bool operator==(const Temperature&, const Temperature&) = default;
  };

  struct Battery {
    int64_t percent = 0;
    bool charging = false;
    bool onAC = false;
    std::optional<int64_t> minutesLeft;
    std::optional<int64_t> cycleCount;
    std::optional<int64_t> healthPercent;
    std::optional<double> celsius;
    std::optional<int64_t> adapterWatts;

    friend bool operator==(const Battery&, const Battery&) = default;
  };

  std::string model;  // the platform always names something, the architecture at least
  std::string chip;
  std::string osVersion;
  double uptimeSeconds = 0;
  std::optional<double> cpuCelsius;
  std::optional<double> cpuMaxCelsius;
  std::optional<double> gpuCelsius;
  std::optional<double> socMaxCelsius;
  // Where cpuCelsius and gpuCelsius came from: "smc", or the chips and zones
  // the system names ("coretemp", "amdgpu", "acpitz").
  std::optional<std::string> cpuSource;
  std::optional<std::string> gpuSource;
  std::vector<Temperature> temperatures;
  std::vector<FanInfo> fans;
  bool hasFans = false;
  std::optional<double> systemWatts;
  std::optional<int64_t> gpuPercent;
  std::optional<Battery> battery;
  double networkInBytesPerSec = 0;
  double networkOutBytesPerSec = 0;
  std::optional<std::vector<NetworkConnection>> connections;
  double diskReadBytesPerSec = 0;
  double diskWriteBytesPerSec = 0;

  friend bool operator==(const SensorReport&, const SensorReport&) = default;
};

void to_json(nlohmann::json& j, const FanInfo& f);
void from_json(const nlohmann::json& j, FanInfo& f);
void to_json(nlohmann::json& j, const SensorReport::Temperature& t);
void from_json(const nlohmann::json& j, SensorReport::Temperature& t);
void to_json(nlohmann::json& j, const SensorReport::Battery& b);
void from_json(const nlohmann::json& j, SensorReport::Battery& b);
void to_json(nlohmann::json& j, const SensorReport& r);
void from_json(const nlohmann::json& j, SensorReport& r);

}  // namespace norvo
