// Linux counterparts of the interface reads. Byte counters come from
// /proc/net/dev rather than the address walk, because the walk's link
// statistics are the 32-bit rtnl_link_stats while /proc/net/dev prints the
// kernel's 64-bit counters. Display names and types come from sysfs
// (Documentation/ABI/testing/sysfs-class-net), as Linux has no localized
// names of its own.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "core/platform/linux/net_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/network_source.hpp"

namespace norvo::platform::network_source {

namespace fs = std::filesystem;

namespace {

// ARPHRD_* link types (include/uapi/linux/if_arp.h) that only tunnels use.
bool isTunnelLinkType(int64_t type) {
  switch (type) {
    case 512:    // ARPHRD_PPP
    case 768:    // ARPHRD_TUNNEL (ipip)
    case 769:    // ARPHRD_TUNNEL6
    case 776:    // ARPHRD_SIT
    case 778:    // ARPHRD_IPGRE
    case 823:    // ARPHRD_IP6GRE
    case 65534:  // ARPHRD_NONE: tun devices and WireGuard
      return true;
    default: return false;
  }
}

// The table entry for one /sys/class/net/<name> folder; absent when the
// system cannot say what it is (bridges, veth pairs, dummies).
std::optional<InterfaceDescription> describe(const fs::path& dir) {
  std::error_code ec;
  auto uevent = text_file::readText(dir / "uevent", 64 * 1024).value_or("");
  auto devtype = parse::ueventValue(uevent, "DEVTYPE");
  if (devtype == "wlan" || fs::exists(dir / "wireless", ec) || fs::exists(dir / "phy80211", ec))
    return InterfaceDescription{"Wi-Fi", InterfaceType::ieee80211};
  auto linkType = text_file::readInt(dir / "type");
  if (devtype == "wireguard" || devtype == "ppp" || fs::exists(dir / "tun_flags", ec) ||
      (linkType && isTunnelLinkType(*linkType)))
    return InterfaceDescription{"VPN", InterfaceType::tunnel};
  // Only a device behind the interface makes it hardware; virtual links have none.
  if (!fs::exists(dir / "device", ec)) return std::nullopt;
  auto driver = parse::ueventValue(
      text_file::readText(dir / "device/uevent", 64 * 1024).value_or(""), "DRIVER");
  if (driver == "ipheth") return InterfaceDescription{"iPhone USB", InterfaceType::ethernet};
  if (driver == "thunderbolt-net" || driver == "thunderbolt_net")
    return InterfaceDescription{"Thunderbolt Bridge", InterfaceType::ethernet};
  if (linkType == 1)  // ARPHRD_ETHER
    return InterfaceDescription{"Ethernet", InterfaceType::ethernet};
  return std::nullopt;
}

std::map<std::string, InterfaceDescription> buildTable(const Roots& roots) {
  std::map<std::string, InterfaceDescription> table;
  std::error_code ec;
  for (fs::directory_iterator it(roots.sys / "class/net", ec), end; !ec && it != end;
       it.increment(ec)) {
    if (auto d = describe(it->path())) table[it->path().filename().string()] = *d;
  }
  return table;
}

}  // namespace

std::map<std::string, InterfaceDescription> table(const Roots& roots) {
  // One table per sysfs root, so a test tree never sees the real machine's.
  static std::mutex lock;
  static fs::path builtFor;
  static std::chrono::steady_clock::time_point builtAt;
  static std::map<std::string, InterfaceDescription> cached;
  std::lock_guard guard(lock);
  auto now = std::chrono::steady_clock::now();
  if (builtFor != roots.sys || builtAt == std::chrono::steady_clock::time_point{} ||
      now - builtAt >= std::chrono::seconds(60)) {
    cached = buildTable(roots);
    builtFor = roots.sys;
    builtAt = now;
  }
  return cached;
}

InterfaceCounters counters(const Roots& roots) {
  auto text = text_file::readText(roots.proc / "net/dev");
  if (!text) return {};
  auto described = table(roots);
  InterfaceCounters out;
  for (const auto& [name, counts] : parse::procNetDev(*text)) {
    auto it = described.find(name);
    bool tunnel = it != described.end() && it->second.type == InterfaceType::tunnel;
    out[name] = {counts.received, counts.sent, tunnel};
  }
  return out;
}

std::map<std::string, InterfaceAddresses> addresses(const Roots& roots) {
  std::map<std::string, InterfaceAddresses> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_name) continue;
    auto& entry = out[a->ifa_name];
    entry.up = entry.up || (a->ifa_flags & IFF_UP);
    entry.running = entry.running || (a->ifa_flags & IFF_RUNNING);
    if (!a->ifa_addr) continue;
    if (a->ifa_addr->sa_family == AF_INET) {
      entry.ipv4 = true;
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      std::array<uint8_t, 16> ip{};
      std::memcpy(ip.data(), &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr, 16);
      entry.ipv6.push_back(ip);
    }
  }
  ::freeifaddrs(list);
  for (auto& [name, entry] : out) {
    // Mbit/s; unreadable (EINVAL) while the link is down and -1 when the
    // driver does not know.
    if (auto mbps = text_file::readInt(roots.sys / "class/net" / name / "speed"); mbps && *mbps > 0)
      entry.linkBitsPerSec = static_cast<double>(*mbps) * 1e6;
  }
  return out;
}

std::optional<std::string> primaryInterface(const Roots& roots) {
  auto text = text_file::readText(roots.proc / "net/route");
  if (!text) return std::nullopt;
  return parse::defaultRouteInterface(*text);
}

}  // namespace norvo::platform::network_source
