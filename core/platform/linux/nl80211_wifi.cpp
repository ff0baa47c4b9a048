// The Wi-Fi reading over nl80211 (generic netlink, through libnl): the
// interface dump names the station interfaces with their frequency and
// channel width, the station dump gives the access point's signal and our
// transmit rate, the survey dump the noise of the channel in use. A kernel
// without cfg80211 has no "nl80211" family, and then there is no reading.
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <vector>

#include "core/platform/linux/nl80211_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/network_source.hpp"

namespace norvo::platform::network_source {

namespace {

struct StationInterface {
  uint32_t index = 0;
  std::string name;
  nl80211::LinkFacts facts;
};

nlattr** parseMessage(nl_msg* msg, nlattr** tb) {
  auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(msg)));
  if (nla_parse(tb, NL80211_ATTR_MAX, genlmsg_attrdata(header, 0), genlmsg_attrlen(header, 0),
                nullptr) < 0)
    return nullptr;
  return tb;
}

int onInterface(nl_msg* msg, void* arg) {
  nlattr* tb[NL80211_ATTR_MAX + 1] = {};
  if (!parseMessage(msg, tb)) return NL_SKIP;
  if (!tb[NL80211_ATTR_IFINDEX] || !tb[NL80211_ATTR_IFNAME] || !tb[NL80211_ATTR_IFTYPE])
    return NL_SKIP;
  if (nla_get_u32(tb[NL80211_ATTR_IFTYPE]) != NL80211_IFTYPE_STATION) return NL_SKIP;
  StationInterface s;
  s.index = nla_get_u32(tb[NL80211_ATTR_IFINDEX]);
  s.name = nla_get_string(tb[NL80211_ATTR_IFNAME]);
  if (tb[NL80211_ATTR_WIPHY_FREQ]) s.facts.frequencyMHz = nla_get_u32(tb[NL80211_ATTR_WIPHY_FREQ]);
  if (tb[NL80211_ATTR_CHANNEL_WIDTH])
    s.facts.channelWidth = nla_get_u32(tb[NL80211_ATTR_CHANNEL_WIDTH]);
  static_cast<std::vector<StationInterface>*>(arg)->push_back(std::move(s));
  return NL_SKIP;
}

int onStation(nl_msg* msg, void* arg) {
  auto* facts = static_cast<nl80211::LinkFacts*>(arg);
  if (facts->transmit || facts->signalDbm) return NL_SKIP;  // a station keeps one peer: its AP
  nlattr* tb[NL80211_ATTR_MAX + 1] = {};
  if (!parseMessage(msg, tb) || !tb[NL80211_ATTR_STA_INFO]) return NL_SKIP;
  nlattr* info[NL80211_STA_INFO_MAX + 1] = {};
  if (nla_parse_nested(info, NL80211_STA_INFO_MAX, tb[NL80211_ATTR_STA_INFO], nullptr) < 0)
    return NL_SKIP;
  if (info[NL80211_STA_INFO_SIGNAL])
    facts->signalDbm = static_cast<int8_t>(nla_get_u8(info[NL80211_STA_INFO_SIGNAL]));
  if (info[NL80211_STA_INFO_TX_BITRATE]) {
    nlattr* rate[NL80211_RATE_INFO_MAX + 1] = {};
    if (nla_parse_nested(rate, NL80211_RATE_INFO_MAX, info[NL80211_STA_INFO_TX_BITRATE], nullptr) >=
        0) {
      nl80211::RateInfo r;
      if (rate[NL80211_RATE_INFO_BITRATE32]) {
        r.bitrate100kbps = nla_get_u32(rate[NL80211_RATE_INFO_BITRATE32]);
      } else if (rate[NL80211_RATE_INFO_BITRATE]) {
        r.bitrate100kbps = nla_get_u16(rate[NL80211_RATE_INFO_BITRATE]);
      }
      if (rate[NL80211_RATE_INFO_EHT_MCS]) {
        r.family = nl80211::RateFamily::eht;
      } else if (rate[NL80211_RATE_INFO_HE_MCS]) {
        r.family = nl80211::RateFamily::he;
      } else if (rate[NL80211_RATE_INFO_VHT_MCS]) {
        r.family = nl80211::RateFamily::vht;
      } else if (rate[NL80211_RATE_INFO_MCS]) {
        r.family = nl80211::RateFamily::ht;
      }
      facts->transmit = r;
    }
  }
  return NL_SKIP;
}

int onSurvey(nl_msg* msg, void* arg) {
  nlattr* tb[NL80211_ATTR_MAX + 1] = {};
  if (!parseMessage(msg, tb) || !tb[NL80211_ATTR_SURVEY_INFO]) return NL_SKIP;
  nlattr* survey[NL80211_SURVEY_INFO_MAX + 1] = {};
  if (nla_parse_nested(survey, NL80211_SURVEY_INFO_MAX, tb[NL80211_ATTR_SURVEY_INFO], nullptr) < 0)
    return NL_SKIP;
  if (survey[NL80211_SURVEY_INFO_IN_USE] && survey[NL80211_SURVEY_INFO_NOISE])
    static_cast<nl80211::LinkFacts*>(arg)->noiseDbm =
        static_cast<int8_t>(nla_get_u8(survey[NL80211_SURVEY_INFO_NOISE]));
  return NL_SKIP;
}

class Nl80211 {
 public:
  Nl80211() {
    sock_ = nl_socket_alloc();
    if (!sock_ || genl_connect(sock_) < 0) return;
    // The kernel answers at once; the timeout only guards against a wedged driver.
    timeval timeout{1, 0};
    setsockopt(nl_socket_get_fd(sock_), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    family_ = genl_ctrl_resolve(sock_, "nl80211");
  }
  ~Nl80211() {
    if (sock_) nl_socket_free(sock_);
  }
  Nl80211(const Nl80211&) = delete;
  Nl80211& operator=(const Nl80211&) = delete;

  bool ready() const { return sock_ && family_ >= 0; }

  // One dump request; false when it could not be sent or the kernel refused it.
  bool dump(uint8_t command, std::optional<uint32_t> ifindex, nl_recvmsg_msg_cb_t handler,
            void* arg) {
    nl_msg* msg = nlmsg_alloc();
    if (!msg) return false;
    bool ok = genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, family_, 0, NLM_F_DUMP, command, 0);
    if (ok && ifindex) ok = nla_put_u32(msg, NL80211_ATTR_IFINDEX, *ifindex) == 0;
    nl_cb* cb = ok ? nl_cb_alloc(NL_CB_DEFAULT) : nullptr;
    if (cb) {
      nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, handler, arg);
      ok = nl_send_auto(sock_, msg) >= 0 && nl_recvmsgs(sock_, cb) >= 0;
      nl_cb_put(cb);
    } else {
      ok = false;
    }
    nlmsg_free(msg);
    return ok;
  }

 private:
  nl_sock* sock_ = nullptr;
  int family_ = -1;
};

}  // namespace

std::optional<WiFiReading> wifi(const Roots& roots) {
  Nl80211 netlink;
  if (!netlink.ready()) return std::nullopt;
  std::vector<StationInterface> stations;
  if (!netlink.dump(NL80211_CMD_GET_INTERFACE, std::nullopt, onInterface, &stations))
    return std::nullopt;
  if (stations.empty()) return std::nullopt;
  // The default interface: the first station interface by name.
  auto& s = *std::min_element(stations.begin(), stations.end(),
                              [](const auto& a, const auto& b) { return a.name < b.name; });
  // A radio switched off (or blocked) leaves its interface down.
  auto flags = text_file::readLine(roots.sys / "class/net" / s.name / "flags");
  if (flags) {
    unsigned long value = std::strtoul(flags->c_str(), nullptr, 16);
    if (!(value & IFF_UP)) return std::nullopt;
  }
  netlink.dump(NL80211_CMD_GET_STATION, s.index, onStation, &s.facts);
  netlink.dump(NL80211_CMD_GET_SURVEY, s.index, onSurvey, &s.facts);
  return nl80211::readingFrom(s.name, s.facts);
}

}  // namespace norvo::platform::network_source
