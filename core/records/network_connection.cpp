#include "core/records/network_connection.hpp"

#include "core/records/record_fields.hpp"

namespace norvo {

using Kind = NetworkConnection::Kind;

std::string_view rawValue(Kind kind) {
  switch (kind) {
    case Kind::wifi: return "wifi";
    case Kind::ethernet: return "ethernet";
    case Kind::iphone: return "iphone";
    case Kind::thunderbolt: return "thunderbolt";
    case Kind::vpn: return "vpn";
    case Kind::other: return "other";
  }
  return "other";
}

std::optional<Kind> networkKindFromRaw(std::string_view raw) {
  for (auto k :
       {Kind::wifi, Kind::ethernet, Kind::iphone, Kind::thunderbolt, Kind::vpn, Kind::other})
    if (rawValue(k) == raw) return k;
  return std::nullopt;
}

void to_json(nlohmann::json& j, Kind k) { j = std::string(rawValue(k)); }

void from_json(const nlohmann::json& j, Kind& k) {
  auto parsed = networkKindFromRaw(j.get<std::string>());
  if (!parsed) throw nlohmann::json::type_error::create(302, "unknown interface kind", &j);
  k = *parsed;
}

constexpr auto wiFiFields =
    record_fields::list(record_fields::field("standard", &NetworkConnection::WiFi::standard),
                        record_fields::field("bandGHz", &NetworkConnection::WiFi::bandGHz),
                        record_fields::field("channel", &NetworkConnection::WiFi::channel),
                        record_fields::field("widthMHz", &NetworkConnection::WiFi::widthMHz),
                        record_fields::field("rssi", &NetworkConnection::WiFi::rssi),
                        record_fields::field("noise", &NetworkConnection::WiFi::noise));
void to_json(nlohmann::json& j, const NetworkConnection::WiFi& w) { wiFiFields.write(j, w); }
void from_json(const nlohmann::json& j, NetworkConnection::WiFi& w) { wiFiFields.read(j, w); }

constexpr auto networkConnectionFields =
    record_fields::list(record_fields::field("bsdName", &NetworkConnection::bsdName),
                        record_fields::field("name", &NetworkConnection::name),
                        record_fields::field("kind", &NetworkConnection::kind),
                        record_fields::field("primary", &NetworkConnection::primary),
                        record_fields::field("inBytesPerSec", &NetworkConnection::inBytesPerSec),
                        record_fields::field("outBytesPerSec", &NetworkConnection::outBytesPerSec),
                        record_fields::field("linkBitsPerSec", &NetworkConnection::linkBitsPerSec),
                        record_fields::field("wifi", &NetworkConnection::wifi));
void to_json(nlohmann::json& j, const NetworkConnection& c) { networkConnectionFields.write(j, c); }
void from_json(const nlohmann::json& j, NetworkConnection& c) {
  networkConnectionFields.read(j, c);
}

}  // namespace norvo
