#include "core/measure/network.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace norvo::Network {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
  auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
  return it != text.end();
}

bool isTunnel(std::string_view name, const Counters& counters) {
  if (isTunnelName(name)) return true;
  auto it = counters.find(std::string(name));
  return it != counters.end() && it->second.tunnel;
}

// An IPv4 address, or an IPv6 address outside the link-local fe80::/10.
bool hasRoutableAddress(const platform::InterfaceAddresses& a) {
  if (a.ipv4) return true;
  return std::any_of(a.ipv6.begin(), a.ipv6.end(),
                     [](const auto& ip) { return !(ip[0] == 0xfe && (ip[1] & 0xc0) == 0x80); });
}

}  // namespace

bool isExcluded(std::string_view name) {
  // The first ten are the system's own plumbing on the platform this list
  // comes from; the rest are Linux's: container veth pairs, the bridges and
  // overlays of Docker, Podman, CNI, LXC, libvirt, Cilium and Flannel, VM taps,
  // and ifb devices. Each carries traffic that the physical interface carries
  // too, so counting it would count container and VM traffic twice.
  static constexpr std::string_view prefixes[] = {
      "lo",     "awdl",   "llw",   "anpi",   "ap",      "gif",      "stf",        "XHC",
      "pktap",  "vmenet", "veth",  "docker", "br-",     "virbr",    "vnet",       "ifb",
      "podman", "cni",    "lxcbr", "lxdbr",  "cilium_", "flannel.", "kube-bridge"};
  return std::any_of(std::begin(prefixes), std::end(prefixes),
                     [&](std::string_view p) { return startsWith(name, p); });
}

bool isTunnelName(std::string_view name) {
  // utun, ipsec and ppp as elsewhere; tun (OpenVPN and most VPN clients), wg
  // (WireGuard) and vti (IPsec virtual tunnel) are Linux's usual names.
  static constexpr std::string_view prefixes[] = {"utun", "ipsec", "ppp", "tun", "wg", "vti"};
  return std::any_of(std::begin(prefixes), std::end(prefixes),
                     [&](std::string_view p) { return startsWith(name, p); });
}

Counters counters(const platform::Roots& roots) {
  return platform::network_source::counters(roots);
}

std::pair<double, double> totals(const std::optional<Counters>& before, const Counters& after,
                                 std::optional<double> window) {
  if (!before || !window || !(*window > 0)) return {0, 0};
  double in = 0, out = 0;
  for (const auto& [name, now] : after) {
    if (isExcluded(name) || isTunnel(name, after)) continue;
    auto it = before->find(name);
    if (it == before->end()) continue;
    const auto& then = it->second;
    // Linux keeps 64-bit counters, so a decrease is a reset (the driver or
    // the interface was re-created), not a wrap; either way the interval
    // has no trustworthy figure for this interface.
    if (now.in < then.in || now.out < then.out) continue;
    in += static_cast<double>(now.in - then.in) / *window;
    out += static_cast<double>(now.out - then.out) / *window;
  }
  return {in, out};
}

std::vector<NetworkConnection> connections(const std::optional<Counters>& before,
                                           const Counters& after, std::optional<double> window,
                                           const platform::Roots& roots) {
  namespace ns = platform::network_source;
  Interfaces interfaces;
  interfaces.addresses = ns::addresses(roots);
  interfaces.table = ns::table(roots);
  interfaces.primary = ns::primaryInterface(roots);
  interfaces.wifi = ns::wifi(roots);
  return connectionsFrom(interfaces, before, after, window);
}

std::vector<NetworkConnection> connectionsFrom(const Interfaces& interfaces,
                                               const std::optional<Counters>& before,
                                               const Counters& after,
                                               std::optional<double> window) {
  using Kind = NetworkConnection::Kind;
  std::vector<NetworkConnection> list;
  bool rated = before && window && *window > 0;
  for (const auto& [name, a] : interfaces.addresses) {
    if (!a.up || !a.running || (!a.ipv4 && a.ipv6.empty())) continue;
    if (isExcluded(name) || !hasRoutableAddress(a)) continue;

    const platform::InterfaceDescription* entry = nullptr;
    if (auto it = interfaces.table.find(name); it != interfaces.table.end()) entry = &it->second;
    std::string display = entry ? entry->displayName : name;

    NetworkConnection c;
    c.bsdName = name;
    c.name = display;
    bool tunnel =
        isTunnel(name, after) || (entry && entry->type == platform::InterfaceType::tunnel);
    if (entry && entry->type == platform::InterfaceType::ieee80211) {
      c.kind = Kind::wifi;
    } else if (tunnel) {
      c.kind = Kind::vpn;
      c.name = "VPN";
    } else if (containsIgnoringCase(display, "iPhone")) {
      c.kind = Kind::iphone;
    } else if (startsWith(display, "Thunderbolt") || startsWith(name, "bridge")) {
      c.kind = Kind::thunderbolt;
    } else if (entry && entry->type == platform::InterfaceType::ethernet) {
      c.kind = Kind::ethernet;
    } else {
      c.kind = Kind::other;
    }

    if (c.kind != Kind::vpn && a.linkBitsPerSec && *a.linkBitsPerSec > 0)
      c.linkBitsPerSec = a.linkBitsPerSec;
    if (c.kind == Kind::wifi && interfaces.wifi && interfaces.wifi->bsdName == name) {
      c.wifi = interfaces.wifi->details;
      if (auto rate = interfaces.wifi->transmitRateMbps; rate && *rate > 0)
        c.linkBitsPerSec = *rate * 1'000'000;
    }
    c.primary = interfaces.primary && *interfaces.primary == name;

    if (rated) {
      auto now = after.find(name);
      auto then = before->find(name);
      if (now != after.end() && then != before->end()) {
        if (now->second.in >= then->second.in)
          c.inBytesPerSec = static_cast<double>(now->second.in - then->second.in) / *window;
        if (now->second.out >= then->second.out)
          c.outBytesPerSec = static_cast<double>(now->second.out - then->second.out) / *window;
      }
    }
    list.push_back(std::move(c));
  }
  std::stable_sort(list.begin(), list.end(), [](const auto& x, const auto& y) {
    if (x.primary != y.primary) return x.primary;
    return x.bsdName < y.bsdName;
  });
  return list;
}

std::optional<NetworkConnection> primary(const std::optional<SensorReport>& report) {
  if (!report || !report->connections || report->connections->empty()) return std::nullopt;
  for (const auto& c : *report->connections)
    if (c.primary) return c;
  return report->connections->front();
}

std::string speed(double bitsPerSec) {
  char buf[64];
  if (bitsPerSec >= 1e9) {
    std::snprintf(buf, sizeof buf, "%.1f Gbit/s", bitsPerSec / 1e9);
    std::string text = buf;
    for (size_t at; (at = text.find(".0 ")) != std::string::npos;) text.replace(at, 3, " ");
    return text;
  }
  std::snprintf(buf, sizeof buf, "%.0f Mbit/s", bitsPerSec / 1e6);
  return buf;
}

}  // namespace norvo::Network
