// Pure parsers for the network texts under /proc. They take the file's
// content and never touch the file system; text they cannot make sense of
// gives an empty result or absent.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::parse {

struct ByteCounts {
  uint64_t received = 0;
  uint64_t sent = 0;

  friend bool operator==(const ByteCounts&, const ByteCounts&) = default;
};

// /proc/net/dev: bytes received and sent by interface (64-bit on every
// 64-bit kernel). Lines that do not parse are skipped.
std::map<std::string, ByteCounts> procNetDev(std::string_view text);

// /proc/net/route: the interface of the usable default IPv4 route with the
// lowest metric (the first such line on a tie); absent when there is none.
std::optional<std::string> defaultRouteInterface(std::string_view text);

// "KEY=value" lines such as a sysfs uevent file: the value of `key`.
std::optional<std::string> ueventValue(std::string_view text, std::string_view key);

}  // namespace norvo::platform::parse
