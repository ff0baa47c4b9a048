// Container traffic crosses a bridge or overlay and the physical interface
// both; only the physical one may count, or a pull inside a container shows
// twice its rate.
#include <gtest/gtest.h>

#include "core/measure/network.hpp"

namespace norvo::Network {
namespace {

TEST(ContainerBridges, LeftOutOfTheTotals) {
  struct Case {
    const char* name;
    bool counted;
  };
  const Case cases[] = {
      {"podman0", false},   {"podman1", false},  {"cni0", false},        {"cni-podman0", false},
      {"lxcbr0", false},    {"lxdbr0", false},   {"cilium_host", false}, {"cilium_vxlan", false},
      {"flannel.1", false}, {"docker0", false},  {"kube-bridge", false}, {"eth1", true},
      {"wlp3s0", true},     {"enp0s31f6", true}, {"flannelx", true},
  };
  for (const auto& c : cases) {
    Counters before{{"eth0", {1000, 1000}}, {c.name, {0, 0}}};
    Counters after{{"eth0", {3000, 2000}}, {c.name, {4000, 6000}}};
    auto [in, out] = totals(before, after, 2.0);
    double bridgeIn = c.counted ? 2000 : 0, bridgeOut = c.counted ? 3000 : 0;
    EXPECT_DOUBLE_EQ(in, 1000 + bridgeIn) << c.name;
    EXPECT_DOUBLE_EQ(out, 500 + bridgeOut) << c.name;
  }
}

}  // namespace
}  // namespace norvo::Network
