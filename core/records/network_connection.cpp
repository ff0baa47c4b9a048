#include "core/records/network_connection.hpp"

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

void to_json(nlohmann::json& j, const NetworkConnection::WiFi& w) {
  j = nlohmann::json::object();
  json_codec::putOptional(j, "standard", w.standard);
  json_codec::putOptional(j, "bandGHz", w.bandGHz);
  json_codec::putOptional(j, "channel", w.channel);
  json_codec::putOptional(j, "widthMHz", w.widthMHz);
  json_codec::putOptional(j, "rssi", w.rssi);
  json_codec::putOptional(j, "noise", w.noise);
}

void from_json(const nlohmann::json& j, NetworkConnection::WiFi& w) {
  if (!j.is_object())
    throw nlohmann::json::type_error::create(302, "Wi-Fi details must be an object", &j);
  json_codec::getOptional(j, "standard", w.standard);
  json_codec::getOptional(j, "bandGHz", w.bandGHz);
  json_codec::getOptional(j, "channel", w.channel);
  json_codec::getOptional(j, "widthMHz", w.widthMHz);
  json_codec::getOptional(j, "rssi", w.rssi);
  json_codec::getOptional(j, "noise", w.noise);
}

void to_json(nlohmann::json& j, const NetworkConnection& c) {
  j = {{"bsdName", c.bsdName},
       {"name", c.name},
       {"kind", c.kind},
       {"primary", c.primary},
       {"inBytesPerSec", c.inBytesPerSec},
       {"outBytesPerSec", c.outBytesPerSec}};
  json_codec::putOptional(j, "linkBitsPerSec", c.linkBitsPerSec);
  json_codec::putOptional(j, "wifi", c.wifi);
}

void from_json(const nlohmann::json& j, NetworkConnection& c) {
  j.at("bsdName").get_to(c.bsdName);
  j.at("name").get_to(c.name);
  j.at("kind").get_to(c.kind);
  j.at("primary").get_to(c.primary);
  j.at("inBytesPerSec").get_to(c.inBytesPerSec);
  j.at("outBytesPerSec").get_to(c.outBytesPerSec);
  json_codec::getOptional(j, "linkBitsPerSec", c.linkBitsPerSec);
  json_codec::getOptional(j, "wifi", c.wifi);
}

}  // namespace norvo
