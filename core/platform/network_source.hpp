// The operating-system reads behind the network figures: per-interface byte
// counters, addresses and flags, the interface table (display name and
// type), the interface of the default IPv4 route and the Wi-Fi radio. Each
// read has a fixed fallback (empty, absent) and never throws; which
// interfaces count and how they are named and ordered is decided in
// core/measure/network.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"
#include "core/records/network_connection.hpp"

namespace norvo::platform {

struct InterfaceCounter {
  uint64_t in = 0;      // bytes received
  uint64_t out = 0;     // bytes sent
  bool tunnel = false;  // the system says it is a tunnel, whatever its name

  friend bool operator==(const InterfaceCounter&, const InterfaceCounter&) = default;
};

using InterfaceCounters = std::map<std::string, InterfaceCounter>;

enum class InterfaceType { ieee80211, ethernet, tunnel, other };

struct InterfaceDescription {
  std::string displayName;
  InterfaceType type = InterfaceType::other;

  friend bool operator==(const InterfaceDescription&, const InterfaceDescription&) = default;
};

// One interface as the address walk sees it.
struct InterfaceAddresses {
  bool up = false;
  bool running = false;
  bool ipv4 = false;
  std::vector<std::array<uint8_t, 16>> ipv6;
  std::optional<double> linkBitsPerSec;  // absent when the link speed is unknown
};

// The Wi-Fi radio of the default wireless interface.
struct WiFiReading {
  std::string bsdName;
  std::optional<double> transmitRateMbps;  // absent when not above 0
  NetworkConnection::WiFi details;

  friend bool operator==(const WiFiReading&, const WiFiReading&) = default;
};

namespace network_source {

// Byte counters of every interface; empty when they cannot be read.
InterfaceCounters counters(const Roots& roots);

// Flags, addresses and link speed of every interface; empty on failure.
std::map<std::string, InterfaceAddresses> addresses(const Roots& roots);

// Display name and type by interface name; interfaces the system cannot
// describe are missing. Rebuilt at most once a minute.
std::map<std::string, InterfaceDescription> table(const Roots& roots);

// The interface of the default IPv4 route; absent when there is none.
std::optional<std::string> primaryInterface(const Roots& roots);

// The default Wi-Fi interface's radio; absent when there is no wireless
// interface or its radio is off.
std::optional<WiFiReading> wifi(const Roots& roots);

}  // namespace network_source
}  // namespace norvo::platform
