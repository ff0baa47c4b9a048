#include "core/platform/linux/net_parsers.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace norvo::platform
