#include "core/measure/network.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

using platform::InterfaceAddresses;
using platform::InterfaceType;
using Kind = NetworkConnection::Kind;

InterfaceAddresses v4(std::optional<double> link = std::nullopt) {
  InterfaceAddresses a;
  a.up = a.running = a.ipv4 = true;
  a.linkBitsPerSec = link;
  return a;
}

TEST(NetworkNames, ExcludedInterfacesAndTunnels) {
  // Container bridges and overlays too: their traffic also crosses the
  // physical interface, and would count twice.
  for (auto name : {"lo", "awdl0", "llw0", "pktap0", "vmenet0", "veth3f2a", "docker0", "br-1a2b3c",
                    "virbr0", "vnet4", "ifb0", "podman1", "cni-podman0", "lxcbr0", "lxdbr0",
                    "cilium_vxlan", "flannel.1", "kube-bridge"})
    EXPECT_TRUE(Network::isExcluded(name)) << name;
  for (auto name : {"en0", "eth0", "wlp0s20f3", "bridge0", "wg0", "tun0", "flannelx", "enp0s31f6"})
    EXPECT_FALSE(Network::isExcluded(name)) << name;
  for (auto name : {"utun3", "ipsec0", "ppp0", "tun0", "wg0", "vti1"})
    EXPECT_TRUE(Network::isTunnelName(name)) << name;
  for (auto name : {"en0", "tap0"}) EXPECT_FALSE(Network::isTunnelName(name)) << name;
}

TEST(NetworkTotals, RatesResetsAndExclusions) {
  Network::Counters before{{"en0", {1000, 2000}},   {"en1", {4'294'967'000, 100}},
                           {"lo", {0, 0}},          {"utun3", {0, 0}},
                           {"mull0", {0, 0, true}}, {"docker0", {0, 0}}};
  Network::Counters after{
      {"en0", {3000, 2500}},   {"en1", {500, 900}},           {"lo", {1'000'000, 1'000'000}},
      {"utun3", {5000, 5000}}, {"mull0", {5000, 5000, true}}, {"docker0", {7000, 7000}},
      {"en9", {999, 999}}};
  // en1 went back inbound: it adds nothing, not even its outbound growth.
  EXPECT_EQ(Network::totals(before, after, 2.0), std::make_pair(1000.0, 250.0));
  for (auto window :
       {std::optional<double>(0.0), std::optional<double>(-1.0), std::optional<double>()})
    EXPECT_EQ(Network::totals(before, after, window), std::make_pair(0.0, 0.0));
  EXPECT_EQ(Network::totals(std::nullopt, after, 2.0), std::make_pair(0.0, 0.0));
}

TEST(NetworkConnections, WiFiDetailsAndRates) {
  Network::Interfaces i;
  i.addresses = {{"wlan0", v4(54e6)}, {"wlan1", v4(72e6)}, {"eth0", v4()}};
  i.table = {{"wlan0", {"Wi-Fi", InterfaceType::ieee80211}},
             {"wlan1", {"Wi-Fi", InterfaceType::ieee80211}}};
  platform::WiFiReading reading;
  reading.bsdName = "wlan0";
  reading.transmitRateMbps = 866;
  reading.details.standard = "Wi-Fi 5";
  reading.details.channel = 36;
  i.wifi = reading;
  Network::Counters before{{"wlan0", {100, 4'294'967'000}}, {"eth0", {0, 0}}};
  Network::Counters after{{"wlan0", {1100, 500}}, {"eth0", {10, 20}}, {"wlan1", {50, 50}}};
  auto list = Network::connectionsFrom(i, before, after, 0.5);
  // Name, display name, kind, link, primary, in and out per second, radio.
  // wlan0: the radio's rate, not the driver's; outbound went back, so 0 in that
  // direction only. wlan1: the reading describes another radio, and without
  // earlier counters there are no rates.
  NetworkConnection eth{"eth0", "eth0", Kind::other, std::nullopt, false, 20, 40, std::nullopt},
      wlan0{"wlan0", "Wi-Fi", Kind::wifi, 866e6, false, 2000, 0, reading.details},
      wlan1{"wlan1", "Wi-Fi", Kind::wifi, 72e6, false, 0, 0, std::nullopt};
  EXPECT_EQ(list, (std::vector<NetworkConnection>{eth, wlan0, wlan1}));

  reading.transmitRateMbps.reset();
  i.wifi = reading;
  list = Network::connectionsFrom(i, before, after, 0.0);
  EXPECT_EQ(list[1].linkBitsPerSec, 54e6);
  EXPECT_EQ(list[1].inBytesPerSec, 0);
}

}  // namespace
}  // namespace norvo
