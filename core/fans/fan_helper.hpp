// The fan helper: the one process, run by root, that writes fan settings.
// Clients reach it over a local socket with one JSON request line and read
// one JSON reply line:
//   {"call":"statusWithReply:"}                          → {"status":TEXT}
//   {"call":"setFan:mode:rpm:reply:","fan":N,"mode":M,"rpm":R}
//                                                        → {"success":B,"message":TEXT}
//   {"call":"resetAllWithReply:"}                        → {"success":B}
// with M "auto", "boost", "max" or "manual" (R counts only for "manual").
// Anything else is answered {"error":TEXT}. The helper gives every fan back
// when it starts (an earlier one may have died with fans manual), when it
// stops, and when a client has not renewed a manual setting for the lease
// time, so a dead client never leaves a fan pinned.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/fans/fan_engine.hpp"
#include "core/platform/roots.hpp"

namespace norvo {

// Where the helper is found and what both sides check.
namespace FanHelperIDs {
inline constexpr std::string_view socketPath = "/run/zemnorvo/fan-helper.sock";
// The systemd template unit; the instance names the user it serves.
inline constexpr std::string_view unitName = "zemnorvo-fan-helper@.service";
// Anyone may connect; the helper itself lets in only root and the user or
// group it was started for, by the kernel's word on the peer.
inline constexpr unsigned socketMode = 0666;
}  // namespace FanHelperIDs

namespace FanHelperProtocol {
inline constexpr std::string_view status = "statusWithReply:";
inline constexpr std::string_view setFan = "setFan:mode:rpm:reply:";
inline constexpr std::string_view resetAll = "resetAllWithReply:";
}  // namespace FanHelperProtocol

// The helper's answers, over an engine it does not own. Used from one thread.
class FanHelper {
 public:
  using Clock = std::chrono::steady_clock;

  FanHelper(FanEngine& engine, std::chrono::milliseconds lease);

  // The reply line (without '\n') to one request line.
  std::string handle(std::string_view request, Clock::time_point now);

  // Gives back every fan whose lease ran out by `now`.
  void expireLeases(Clock::time_point now);

  // The helper's status: the fans, their modes and the leases left.
  std::string status(Clock::time_point now);

 private:
  FanEngine::Outcome setFan(int64_t fan, const std::string& mode, double rpm,
                            Clock::time_point now);

  FanEngine& engine_;
  std::chrono::milliseconds lease_;
  std::map<int64_t, Clock::time_point> leases_;  // fan → when it goes back
};

struct FanHelperOptions {
  std::filesystem::path socket{FanHelperIDs::socketPath};
  platform::Roots roots = platform::Roots::system();
  // Besides root, who may connect.
  std::optional<uint32_t> allowedUser;
  std::optional<uint32_t> allowedGroup;
  std::chrono::milliseconds lease{15000};
};

// Serves until SIGTERM or SIGINT, then gives every fan back. Returns the exit
// status: 0 when the fans went back, 1 when one did not; throws
// std::system_error when the socket cannot be made. `log` gets each line
// worth the journal.
int serveFanHelper(const FanHelperOptions& options,
                   const std::function<void(const std::string&)>& log);

}  // namespace norvo
