#include "core/measure/network.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

using platform::InterfaceAddresses;
using platform::InterfaceDescription;
using platform::InterfaceType;
using Kind = NetworkConnection::Kind;

InterfaceAddresses v4(std::optional<double> link = std::nullopt) {
  InterfaceAddresses a;
  a.up = a.running = a.ipv4 = true;
  a.linkBitsPerSec = link;
  return a;
}

InterfaceAddresses v6Only(uint8_t first, uint8_t second) {
  InterfaceAddresses a;
  a.up = a.running = true;
  std::array<uint8_t, 16> ip{};
  ip[0] = first;
  ip[1] = second;
  ip[15] = 1;
  a.ipv6.push_back(ip);
  return a;
}

TEST(NetworkSpeed, Texts) {
  EXPECT_EQ(Network::speed(1'000'000'000), "1 Gbit/s");
  EXPECT_EQ(Network::speed(2'500'000'000), "2.5 Gbit/s");
  EXPECT_EQ(Network::speed(10'000'000'000), "10 Gbit/s");
  EXPECT_EQ(Network::speed(866'700'000), "867 Mbit/s");
  EXPECT_EQ(Network::speed(999'999'999), "1000 Mbit/s");
  EXPECT_EQ(Network::speed(0), "0 Mbit/s");
}

TEST(NetworkNames, ExcludedAndTunnels) {
  for (auto name : {"lo", "awdl0", "llw0", "anpi1", "ap1", "gif0", "stf0", "XHC20", "pktap0",
                    "vmenet0", "veth3f2a", "docker0", "br-1a2b3c", "virbr0", "vnet4", "ifb0"})
    EXPECT_TRUE(Network::isExcluded(name)) << name;
  for (auto name : {"en0", "eth0", "wlp0s20f3", "enp5s0", "bridge0", "wg0", "tun0"})
    EXPECT_FALSE(Network::isExcluded(name)) << name;
  for (auto name : {"utun3", "ipsec0", "ppp0", "tun0", "wg0", "vti1"})
    EXPECT_TRUE(Network::isTunnelName(name)) << name;
  for (auto name : {"en0", "eth0", "tap0"}) EXPECT_FALSE(Network::isTunnelName(name)) << name;
}

TEST(NetworkTotals, RatesWrapsAndExclusions) {
  Network::Counters before{{"en0", {1000, 2000}},   {"en1", {4'294'967'000, 100}},
                           {"lo", {0, 0}},          {"utun3", {0, 0}},
                           {"mull0", {0, 0, true}}, {"docker0", {0, 0}}};
  Network::Counters after{
      {"en0", {3000, 2500}},   {"en1", {500, 900}},           {"lo", {1'000'000, 1'000'000}},
      {"utun3", {5000, 5000}}, {"mull0", {5000, 5000, true}}, {"docker0", {7000, 7000}},
      {"en9", {999, 999}}};
  // en1 wrapped inbound: it adds nothing, not even its outbound growth.
  auto [in, out] = Network::totals(before, after, 2.0);
  EXPECT_DOUBLE_EQ(in, 1000);
  EXPECT_DOUBLE_EQ(out, 250);

  EXPECT_EQ(Network::totals(std::nullopt, after, 2.0), std::make_pair(0.0, 0.0));
  EXPECT_EQ(Network::totals(before, after, 0.0), std::make_pair(0.0, 0.0));
  EXPECT_EQ(Network::totals(before, after, std::nullopt), std::make_pair(0.0, 0.0));
  EXPECT_EQ(Network::totals(before, after, -1.0), std::make_pair(0.0, 0.0));
}

TEST(NetworkConnections, KindsNamesAndOrder) {
  Network::Interfaces i;
  i.addresses = {{"en0", v4(1e9)},
                 {"en1", v4()},
                 {"en5", v4(1e8)},
                 {"bridge0", v4()},
                 {"utun3", v4(1e9)},
                 {"wg0", v4()},
                 {"tunnel9", v4()},
                 {"iph0", v4()},
                 {"tb0", v4()},
                 {"lo", v4()},
                 {"veth1", v4()},
                 {"linklocal", v6Only(0xfe, 0x80)},
                 {"global6", v6Only(0x20, 0x01)},
                 {"fec0", v6Only(0xfe, 0xc0)}};
  auto down = v4();
  down.running = false;
  i.addresses["en7"] = down;
  i.table = {{"en0", {"Ethernet", InterfaceType::ethernet}},
             {"en1", {"Wi-Fi", InterfaceType::ieee80211}},
             {"tunnel9", {"VPN", InterfaceType::tunnel}},
             {"iph0", {"my IPHONE usb", InterfaceType::ethernet}},
             {"tb0", {"Thunderbolt Bridge", InterfaceType::ethernet}}};
  i.primary = "en1";

  auto list = Network::connectionsFrom(i, std::nullopt, {}, std::nullopt);
  std::vector<std::string> names;
  for (const auto& c : list) names.push_back(c.bsdName);
  EXPECT_EQ(names, (std::vector<std::string>{"en1", "bridge0", "en0", "en5", "fec0", "global6",
                                             "iph0", "tb0", "tunnel9", "utun3", "wg0"}));
  auto find = [&](const std::string& n) {
    for (const auto& c : list)
      if (c.bsdName == n) return c;
    ADD_FAILURE() << n;
    return NetworkConnection{};
  };
  EXPECT_TRUE(find("en1").primary);
  EXPECT_FALSE(find("en0").primary);
  EXPECT_EQ(find("en1").kind, Kind::wifi);
  EXPECT_EQ(find("en1").name, "Wi-Fi");
  EXPECT_EQ(find("en0").kind, Kind::ethernet);
  EXPECT_EQ(find("en0").linkBitsPerSec, 1e9);
  EXPECT_EQ(find("en5").kind, Kind::other);
  EXPECT_EQ(find("en5").name, "en5");
  EXPECT_EQ(find("bridge0").kind, Kind::thunderbolt);
  EXPECT_EQ(find("tb0").kind, Kind::thunderbolt);
  EXPECT_EQ(find("iph0").kind, Kind::iphone);
  for (auto vpn : {"utun3", "wg0", "tunnel9"}) {
    EXPECT_EQ(find(vpn).kind, Kind::vpn) << vpn;
    EXPECT_EQ(find(vpn).name, "VPN");
    EXPECT_FALSE(find(vpn).linkBitsPerSec);
  }
  // Without a window every rate is 0, the list is still built.
  for (const auto& c : list) EXPECT_EQ(c.inBytesPerSec + c.outBytesPerSec, 0) << c.bsdName;
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
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].bsdName, "eth0");
  EXPECT_EQ(list[0].inBytesPerSec, 20);
  EXPECT_EQ(list[0].outBytesPerSec, 40);
  EXPECT_EQ(list[1].bsdName, "wlan0");
  EXPECT_EQ(list[1].wifi, reading.details);
  EXPECT_EQ(list[1].linkBitsPerSec, 866e6);  // the radio's rate, not the driver's
  EXPECT_EQ(list[1].inBytesPerSec, 2000);
  EXPECT_EQ(list[1].outBytesPerSec, 0);  // wrapped: this direction only
  EXPECT_FALSE(list[2].wifi);            // the reading describes another radio
  EXPECT_EQ(list[2].linkBitsPerSec, 72e6);
  EXPECT_EQ(list[2].inBytesPerSec, 0);  // no earlier counters

  reading.transmitRateMbps.reset();
  i.wifi = reading;
  list = Network::connectionsFrom(i, before, after, 0.0);
  EXPECT_EQ(list[1].linkBitsPerSec, 54e6);
  EXPECT_EQ(list[1].inBytesPerSec, 0);
}

TEST(NetworkPrimary, MarkedElseFirst) {
  EXPECT_FALSE(Network::primary(std::nullopt));
  SensorReport r;
  EXPECT_FALSE(Network::primary(r));
  r.connections = std::vector<NetworkConnection>{};
  EXPECT_FALSE(Network::primary(r));
  NetworkConnection a, b;
  a.bsdName = "en0";
  b.bsdName = "en1";
  r.connections = {a, b};
  EXPECT_EQ(Network::primary(r)->bsdName, "en0");
  r.connections->at(1).primary = true;
  EXPECT_EQ(Network::primary(r)->bsdName, "en1");
}

}  // namespace
}  // namespace norvo
