// One network interface as the owner would name it, with its traffic rates and,
// for Wi-Fi, the radio details.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/json_codec.hpp"

namespace norvo {

struct NetworkConnection {
  enum class Kind { wifi, ethernet, iphone, thunderbolt, vpn, other };

  struct WiFi {
    std::optional<std::string> standard;  // "Wi-Fi 6E", "802.11g", …
    std::optional<std::string> bandGHz;   // "2.4", "5" or "6"
    std::optional<int64_t> channel;
    std::optional<int64_t> widthMHz;
    std::optional<int64_t> rssi;   // dBm
    std::optional<int64_t> noise;  // dBm

    friend bool operator==(const WiFi&, const WiFi&) = default;
  };

  std::string bsdName;
  std::string name;
  Kind kind = Kind::other;
  std::optional<double> linkBitsPerSec;
  bool primary = false;
  double inBytesPerSec = 0;
  double outBytesPerSec = 0;
  std::optional<WiFi> wifi;

  friend bool operator==(const NetworkConnection&, const NetworkConnection&) = default;
};

std::string_view rawValue(NetworkConnection::Kind kind);
std::optional<NetworkConnection::Kind> networkKindFromRaw(std::string_view raw);

void to_json(nlohmann::json& j, NetworkConnection::Kind k);
void from_json(const nlohmann::json& j, NetworkConnection::Kind& k);
void to_json(nlohmann::json& j, const NetworkConnection::WiFi& w);
void from_json(const nlohmann::json& j, NetworkConnection::WiFi& w);
void to_json(nlohmann::json& j, const NetworkConnection& c);
void from_json(const nlohmann::json& j, NetworkConnection& c);

}  // namespace norvo
