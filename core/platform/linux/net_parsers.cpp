#include "core/platform/linux/net_parsers.hpp"

#include <vector>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

std::map<std::string, ByteCounts> procNetDev(std::string_view text) {
  std::map<std::string, ByteCounts> out;
  text_file::forEachLine(text, [&](std::string_view line) {
    // "  eth0: 1234 5 0 …": the name may touch the first number ("eth0:1234").
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    auto name = text_file::trim(line.substr(0, colon));
    if (name.empty() || name.find('|') != std::string_view::npos) return;
    auto f = text_file::fields(line.substr(colon + 1));
    // Receive: bytes packets errs drop fifo frame compressed multicast; then transmit bytes.
    if (f.size() < 9) return;
    auto rx = text_file::parseUnsigned(f[0]);
    auto tx = text_file::parseUnsigned(f[8]);
    if (!rx || !tx) return;
    out[std::string(name)] = {*rx, *tx};
  });
  return out;
}

std::optional<std::string> defaultRouteInterface(std::string_view text) {
  std::optional<std::string> best;
  uint64_t bestMetric = 0;
  bool header = true;
  text_file::forEachLine(text, [&](std::string_view line) {
    if (header) {
      header = false;
      return;
    }
    // Iface Destination Gateway Flags RefCnt Use Metric Mask … (hex, host order)
    auto f = text_file::fields(line);
    if (f.size() < 8) return;
    auto hex = [](std::string_view s) -> std::optional<uint64_t> {
      if (s.empty() || s.size() > 16) return std::nullopt;
      uint64_t v = 0;
      for (char c : s) {
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<uint64_t>(d);
      }
      return v;
    };
    auto dest = hex(f[1]);
    auto flags = hex(f[3]);
    auto metric = text_file::parseUnsigned(f[6]);
    auto mask = hex(f[7]);
    constexpr uint64_t routeUp = 0x1;  // RTF_UP
    if (!dest || !flags || !metric || !mask) return;
    if (*dest != 0 || *mask != 0 || !(*flags & routeUp)) return;
    if (!best || *metric < bestMetric) {
      best = std::string(f[0]);
      bestMetric = *metric;
    }
  });
  return best;
}

std::optional<std::string> ueventValue(std::string_view text, std::string_view key) {
  std::optional<std::string> found;
  text_file::forEachLine(text, [&](std::string_view line) {
    line = text_file::trim(line);
    if (!found && line.size() > key.size() && line.substr(0, key.size()) == key &&
        line[key.size()] == '=')
      found = std::string(line.substr(key.size() + 1));
  });
  return found;
}

}  // namespace norvo::platform::parse
