// What nl80211 reports about a Wi-Fi link, turned into the radio details the
// report shows. Pure functions over plain numbers (include/uapi/linux/nl80211.h
// encodings), so tests need no radio.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/platform/network_source.hpp"

namespace norvo::platform::nl80211 {

// Which modulation family the transmit rate used: the rate info carries an
// HT, VHT, HE or EHT MCS index, or none for legacy rates.
enum class RateFamily { legacy, ht, vht, he, eht };

struct RateInfo {
  std::optional<uint32_t> bitrate100kbps;  // NL80211_RATE_INFO_BITRATE32 (or the 16-bit one)
  RateFamily family = RateFamily::legacy;
};

// Everything one reading gathers from the interface, station and survey dumps.
struct LinkFacts {
  std::optional<uint32_t> frequencyMHz;  // NL80211_ATTR_WIPHY_FREQ
  std::optional<uint32_t> channelWidth;  // enum nl80211_chan_width
  std::optional<RateInfo> transmit;      // NL80211_STA_INFO_TX_BITRATE
  std::optional<int> signalDbm;          // NL80211_STA_INFO_SIGNAL
  std::optional<int> noiseDbm;           // NL80211_SURVEY_INFO_NOISE of the channel in use
};

// "2.4", "5" or "6"; absent outside those bands.
std::optional<std::string> bandFor(uint32_t frequencyMHz);

// The IEEE channel number of a centre frequency; absent outside the three bands.
std::optional<int64_t> channelFor(uint32_t frequencyMHz);

// 20, 40, 80 or 160 MHz (80+80 counts as 160); absent for other widths.
std::optional<int64_t> widthFor(uint32_t channelWidth);

// "Wi-Fi 4" … "Wi-Fi 7" ("Wi-Fi 6E" on 6 GHz) by rate family; legacy rates
// give "802.11a" on 5 GHz and "802.11b" or "802.11g" on 2.4 GHz by the rate.
std::optional<std::string> standardFor(const RateInfo& rate,
                                       const std::optional<std::string>& band);

// The reading of interface `name` from its facts; 0 dBm counts as unknown.
WiFiReading readingFrom(const std::string& name, const LinkFacts& facts);

}  // namespace norvo::platform::nl80211
