#include "core/platform/linux/net_parsers.hpp"

#include <gtest/gtest.h>

#include "core/platform/linux/nl80211_parsers.hpp"

namespace norvo::platform {
namespace {

TEST(NetParsers, ProcNetDevDefaultRouteAndUevent) {
  auto counts = parse::procNetDev(
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets\n"
      "    lo: 100 1 0 0 0 0 0 0 200 2 0 0 0 0 0 0\n"
      "enp5s0:18446744073709551615 1 0 0 0 0 0 0 7 2 0 0 0 0 0 0\n"
      "  eth1: 5 1 0 0\n"
      "  eth2: x 1 0 0 0 0 0 0 7 2 0 0 0 0 0 0\n");
  EXPECT_EQ(counts, (decltype(counts){{"enp5s0", {UINT64_MAX, 7}}, {"lo", {100, 200}}}));

  const std::string header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\n";
  // The lowest metric wins; a route that is not up, or is not the default, does not count.
  EXPECT_EQ(parse::defaultRouteInterface(
                header + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\n"
                         "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"
                         "eth1\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"),
            "eth0");
  EXPECT_FALSE(parse::defaultRouteInterface(header +
                                            "eth0\t00000000\t0100000A\t0002\t0\t0\t0\t00000000\t0\n"
                                            "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\n"
                                            "eth0\tzz\t00000000\t0001\t0\t0\t0\t00000000\t0\n"));
  // The header line is never a route, even if it looks like one.
  EXPECT_FALSE(parse::defaultRouteInterface("eth0\t00000000\t0\t0001\t0\t0\t0\t00000000\n"));

  EXPECT_EQ(parse::ueventValue("INTERFACE=wg0\nDEVTYPE=wireguard\n", "DEVTYPE"), "wireguard");
  EXPECT_FALSE(parse::ueventValue("DEVTYPES=x\n", "DEVTYPE"));
}

TEST(Nl80211, BandsChannelsAndWidths) {
  struct Case {
    uint32_t mhz;
    std::optional<std::string> band;
    std::optional<int64_t> channel;
  };
  for (const auto& c : std::vector<Case>{{2412, "2.4", 1},
                                         {2472, "2.4", 13},
                                         {2484, "2.4", 14},
                                         {5180, "5", 36},
                                         {5885, "5", 177},
                                         {5935, "6", 2},
                                         {5955, "6", 1},
                                         {7115, "6", 233},
                                         {60480, std::nullopt, std::nullopt}}) {
    EXPECT_EQ(nl80211::bandFor(c.mhz), c.band) << c.mhz;
    EXPECT_EQ(nl80211::channelFor(c.mhz), c.channel) << c.mhz;
  }
  const std::optional<int64_t> widths[] = {20, 20, 40, 80, 160, 160, std::nullopt};
  for (uint32_t code = 0; code < 7; ++code) EXPECT_EQ(nl80211::widthFor(code), widths[code]);
  EXPECT_FALSE(nl80211::widthFor(13));  // 320 MHz
}

TEST(Nl80211, StandardsAndReadings) {
  using F = nl80211::RateFamily;
  struct Case {
    F family;
    std::optional<std::string> band;
    std::optional<uint32_t> rate;
    std::optional<std::string> standard;
  };
  for (const auto& c : std::vector<Case>{{F::eht, "6", {}, "Wi-Fi 7"},
                                         {F::he, "6", {}, "Wi-Fi 6E"},
                                         {F::he, "5", {}, "Wi-Fi 6"},
                                         {F::vht, "5", {}, "Wi-Fi 5"},
                                         {F::ht, "2.4", {}, "Wi-Fi 4"},
                                         {F::legacy, "5", 540, "802.11a"},
                                         {F::legacy, "2.4", 55, "802.11b"},
                                         {F::legacy, "2.4", 540, "802.11g"},
                                         {F::legacy, std::nullopt, 540, std::nullopt}})
    EXPECT_EQ(nl80211::standardFor({c.rate, c.family}, c.band), c.standard)
        << int(c.family) << " " << c.band.value_or("-") << " " << c.rate.value_or(0);

  nl80211::LinkFacts facts;
  facts.frequencyMHz = 6115;
  facts.channelWidth = 5;
  facts.transmit = nl80211::RateInfo{24019, F::he};
  facts.signalDbm = -52;
  facts.noiseDbm = 0;
  auto r = nl80211::readingFrom("wlp2s0", facts);
  EXPECT_EQ(r.bsdName, "wlp2s0");
  EXPECT_EQ(r.transmitRateMbps, 2401);
  // A noise of 0 means the driver does not know.
  EXPECT_EQ(r.details, (NetworkConnection::WiFi{"Wi-Fi 6E", "6", 33, 160, -52, std::nullopt}));
  // Not associated: the interface alone, no rate and no standard.
  r = nl80211::readingFrom("wlan0", {});
  EXPECT_EQ(r.details, NetworkConnection::WiFi{});
  EXPECT_FALSE(r.transmitRateMbps);
  facts.transmit = nl80211::RateInfo{5, F::legacy};
  EXPECT_FALSE(nl80211::readingFrom("wlan0", facts).transmitRateMbps);  // 0.5 Mbit/s
}

}  // namespace
}  // namespace norvo::platform
