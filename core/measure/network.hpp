// Network traffic per interface and the interfaces that carry it: which are
// up, their kind and name, the one the system routes through, link speed and
// Wi-Fi details. The rules (which names count, wraps and resets, kinds,
// ordering, texts) are OS-free; the `*From` forms take what the system
// reported so tests can feed plain values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform/network_source.hpp"
#include "core/platform/roots.hpp"
#include "core/records/network_connection.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo::Network {

using Counters = platform::InterfaceCounters;

// Everything the connection list is built from, as the system reported it.
struct Interfaces {
  std::map<std::string, platform::InterfaceAddresses> addresses;
  std::map<std::string, platform::InterfaceDescription> table;
  std::optional<std::string> primary;
  std::optional<platform::WiFiReading> wifi;
};

// Byte counters of every interface at this moment; empty on failure.
Counters counters(const platform::Roots& roots = platform::Roots::system());

// (in, out) bytes per second over all physical interfaces; (0, 0) without
// `before` or a positive `window`. An interface with a counter that went
// down adds nothing for the interval.
std::pair<double, double> totals(const std::optional<Counters>& before, const Counters& after,
                                 std::optional<double> window);

// The interfaces a person would call connections, primary first, then by name.
std::vector<NetworkConnection> connections(
    const std::optional<Counters>& before, const Counters& after, std::optional<double> window,
    const platform::Roots& roots = platform::Roots::system());

// connections() over interfaces already read.
std::vector<NetworkConnection> connectionsFrom(const Interfaces& interfaces,
                                               const std::optional<Counters>& before,
                                               const Counters& after, std::optional<double> window);

// The connection marked primary, else the first; absent without connections.
std::optional<NetworkConnection> primary(const std::optional<SensorReport>& report);

// "1 Gbit/s", "2.5 Gbit/s", "867 Mbit/s".
std::string speed(double bitsPerSec);

// Plumbing never counted or listed (loopback, container and VM links, …).
bool isExcluded(std::string_view name);
// Tunnels by name: listed as VPN, left out of the totals.
bool isTunnelName(std::string_view name);

}  // namespace norvo::Network
