#include "core/platform/http_listener.hpp"

#include <charconv>

namespace norvo::platform {

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error) {
  ListenAddress address{"127.0.0.1", 0};
  std::string_view port = text;
  if (!text.empty() && text.front() == '[') {
    auto close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "expected [IPV6]:PORT, got \"" + std::string(text) + "\"";
      return std::nullopt;
    }
    address.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (auto colon = text.rfind(':'); colon != std::string_view::npos) {
    address.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    if (address.host.find(':') != std::string::npos) {
      error = "an IPv6 address goes in brackets: [" + address.host + "]:" + std::string(port);
      return std::nullopt;
    }
  }
  if (address.host == "localhost") address.host = "127.0.0.1";
  unsigned value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (address.host.empty() || port.empty() || ec != std::errc{} ||
      end != port.data() + port.size() || value == 0 || value > 65535) {
    error = "expected PORT or ADDRESS:PORT with a port from 1 to 65535, got \"" +
            std::string(text) + "\"";
    return std::nullopt;
  }
  address.port = static_cast<uint16_t>(value);
  return address;
}

std::string describe(const ListenAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace norvo::platform
