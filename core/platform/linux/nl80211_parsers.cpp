#include "core/platform/linux/nl80211_parsers.hpp"

namespace norvo::platform::nl80211 {

std::optional<std::string> bandFor(uint32_t f) {
  if (f >= 2400 && f < 2500) return "2.4";
  if (f >= 4900 && f < 5925) return "5";
  if (f >= 5925 && f <= 7125) return "6";
  return std::nullopt;
}

std::optional<int64_t> channelFor(uint32_t f) {
  // IEEE 802.11-2020 annex E: channel = (centre − starting frequency) / 5.
  if (f == 2484) return 14;
  if (f >= 2412 && f <= 2472) return (f - 2407) / 5;
  if (f == 5935) return 2;  // the one 6 GHz channel below the band's 5950 start
  if (f > 5950 && f <= 7125) return (f - 5950) / 5;
  if (f >= 4910 && f < 5000) return (f - 4000) / 5;
  if (f >= 5000 && f < 5925) return (f - 5000) / 5;
  return std::nullopt;
}

std::optional<int64_t> widthFor(uint32_t code) {
  switch (code) {
    case 0:  // NL80211_CHAN_WIDTH_20_NOHT
    case 1: return 20;
    case 2: return 40;
    case 3: return 80;
    case 4:  // NL80211_CHAN_WIDTH_80P80: two 80 MHz segments, 160 MHz in all
    case 5: return 160;
    default: return std::nullopt;  // 5, 10, 1–16 (S1G) and 320 MHz
  }
}

std::optional<std::string> standardFor(const RateInfo& rate,
                                       const std::optional<std::string>& band) {
  switch (rate.family) {
    case RateFamily::eht: return "Wi-Fi 7";
    case RateFamily::he: return band == "6" ? "Wi-Fi 6E" : "Wi-Fi 6";
    case RateFamily::vht: return "Wi-Fi 5";
    case RateFamily::ht: return "Wi-Fi 4";
    case RateFamily::legacy: break;
  }
  if (band == "5") return "802.11a";
  if (band == "2.4") {
    // 1, 2, 5.5 and 11 Mbit/s are the DSSS/CCK rates only 802.11b uses.
    auto r = rate.bitrate100kbps;
    if (r && (*r == 10 || *r == 20 || *r == 55 || *r == 110)) return "802.11b";
    return "802.11g";
  }
  return std::nullopt;
}

WiFiReading readingFrom(const std::string& name, const LinkFacts& facts) {
  WiFiReading r;
  r.bsdName = name;
  auto& d = r.details;
  if (facts.frequencyMHz) {
    d.bandGHz = bandFor(*facts.frequencyMHz);
    d.channel = channelFor(*facts.frequencyMHz);
  }
  if (facts.channelWidth) d.widthMHz = widthFor(*facts.channelWidth);
  if (facts.signalDbm && *facts.signalDbm != 0) d.rssi = *facts.signalDbm;
  if (facts.noiseDbm && *facts.noiseDbm != 0) d.noise = *facts.noiseDbm;
  if (facts.transmit) {
    d.standard = standardFor(*facts.transmit, d.bandGHz);
    // Whole Mbit/s, as the rate is shown; 0.5 Mbit/s rounds to nothing.
    if (auto rate = facts.transmit->bitrate100kbps; rate && *rate / 10 > 0)
      r.transmitRateMbps = static_cast<double>(*rate / 10);
  }
  return r;
}

}  // namespace norvo::platform::nl80211
