#include "core/platform/linux/net_parsers.hpp"

#include <gtest/gtest.h>

#include "core/platform/linux/nl80211_parsers.hpp"

namespace norvo::platform {
namespace {

TEST(NetParsers, ProcNetDev) {
  auto counts = parse::procNetDev(
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets\n"
      "    lo: 100 1 0 0 0 0 0 0 200 2 0 0 0 0 0 0\n"
      "enp5s0:18446744073709551615 1 0 0 0 0 0 0 7 2 0 0 0 0 0 0\n"
      "  eth1: 5 1 0 0\n"
      "  eth2: x 1 0 0 0 0 0 0 7 2 0 0 0 0 0 0\n");
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts["lo"], (parse::ByteCounts{100, 200}));
  EXPECT_EQ(counts["enp5s0"], (parse::ByteCounts{UINT64_MAX, 7}));
  EXPECT_TRUE(parse::procNetDev("").empty());
}

TEST(NetParsers, DefaultRoute) {
  const char* header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\n";
  EXPECT_EQ(parse::defaultRouteInterface(
                std::string(header) + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\n"
                                      "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"
                                      "eth1\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"),
            "eth0");
  // A route that is not up, or is not the default, does not count.
  EXPECT_FALSE(parse::defaultRouteInterface(std::string(header) +
                                            "eth0\t00000000\t0100000A\t0002\t0\t0\t0\t00000000\t0\n"
                                            "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\n"
                                            "eth0\tzz\t00000000\t0001\t0\t0\t0\t00000000\t0\n"));
  EXPECT_FALSE(parse::defaultRouteInterface(""));
  // The header line is never a route, even if it looks like one.
  EXPECT_FALSE(parse::defaultRouteInterface("eth0\t00000000\t0\t0001\t0\t0\t0\t00000000\n"));
}

TEST(NetParsers, Uevent) {
  EXPECT_EQ(parse::ueventValue("INTERFACE=wg0\nDEVTYPE=wireguard\n", "DEVTYPE"), "wireguard");
  EXPECT_FALSE(parse::ueventValue("DEVTYPES=x\n", "DEVTYPE"));
  EXPECT_FALSE(parse::ueventValue("", "DRIVER"));
}

TEST(Nl80211, BandsAndChannels) {
  struct Case {
    uint32_t mhz;
    std::optional<std::string> band;
    std::optional<int64_t> channel;
  };
  const Case cases[] = {
      {2412, "2.4", 1},
      {2437, "2.4", 6},
      {2472, "2.4", 13},
      {2484, "2.4", 14},
      {5180, "5", 36},
      {5825, "5", 165},
      {5885, "5", 177},
      {5935, "6", 2},
      {5955, "6", 1},
      {6115, "6", 33},
      {7115, "6", 233},
      {60480, std::nullopt, std::nullopt},
      {0, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mhz);
    EXPECT_EQ(nl80211::bandFor(c.mhz), c.band);
    EXPECT_EQ(nl80211::channelFor(c.mhz), c.channel);
  }
}

TEST(Nl80211, WidthsAndStandards) {
  EXPECT_EQ(nl80211::widthFor(0), 20);
  EXPECT_EQ(nl80211::widthFor(1), 20);
  EXPECT_EQ(nl80211::widthFor(2), 40);
  EXPECT_EQ(nl80211::widthFor(3), 80);
  EXPECT_EQ(nl80211::widthFor(4), 160);
  EXPECT_EQ(nl80211::widthFor(5), 160);
  EXPECT_FALSE(nl80211::widthFor(6));   // 5 MHz
  EXPECT_FALSE(nl80211::widthFor(13));  // 320 MHz

  using F = nl80211::RateFamily;
  auto std = [](F f, std::optional<std::string> band, std::optional<uint32_t> rate = {}) {
    return nl80211::standardFor({rate, f}, band);
  };
  EXPECT_EQ(std(F::eht, "6"), "Wi-Fi 7");
  EXPECT_EQ(std(F::he, "6"), "Wi-Fi 6E");
  EXPECT_EQ(std(F::he, "5"), "Wi-Fi 6");
  EXPECT_EQ(std(F::he, "2.4"), "Wi-Fi 6");
  EXPECT_EQ(std(F::vht, "5"), "Wi-Fi 5");
  EXPECT_EQ(std(F::ht, "2.4"), "Wi-Fi 4");
  EXPECT_EQ(std(F::legacy, "5", 540), "802.11a");
  EXPECT_EQ(std(F::legacy, "2.4", 110), "802.11b");
  EXPECT_EQ(std(F::legacy, "2.4", 55), "802.11b");
  EXPECT_EQ(std(F::legacy, "2.4", 540), "802.11g");
  EXPECT_FALSE(std(F::legacy, std::nullopt, 540));
}

TEST(Nl80211, ReadingFromFacts) {
  nl80211::LinkFacts facts;
  facts.frequencyMHz = 6115;
  facts.channelWidth = 5;
  facts.transmit = nl80211::RateInfo{24019, nl80211::RateFamily::he};
  facts.signalDbm = -52;
  facts.noiseDbm = 0;
  auto r = nl80211::readingFrom("wlp2s0", facts);
  EXPECT_EQ(r.bsdName, "wlp2s0");
  EXPECT_EQ(r.transmitRateMbps, 2401);
  EXPECT_EQ(r.details.standard, "Wi-Fi 6E");
  EXPECT_EQ(r.details.bandGHz, "6");
  EXPECT_EQ(r.details.channel, 33);
  EXPECT_EQ(r.details.widthMHz, 160);
  EXPECT_EQ(r.details.rssi, -52);
  EXPECT_FALSE(r.details.noise);  // 0 means the driver does not know

  // Not associated: the interface alone, no rate and no standard.
  r = nl80211::readingFrom("wlan0", {});
  EXPECT_EQ(r.details, NetworkConnection::WiFi{});
  EXPECT_FALSE(r.transmitRateMbps);
  facts.transmit = nl80211::RateInfo{5, nl80211::RateFamily::legacy};
  EXPECT_FALSE(nl80211::readingFrom("wlan0", facts).transmitRateMbps);  // 0.5 Mbit/s
}

}  // namespace
}  // namespace norvo::platform
