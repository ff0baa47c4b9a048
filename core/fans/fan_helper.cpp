#include "core/fans/fan_helper.hpp"

#include <algorithm>
#include <cmath>

#include "core/platform/fan_transport.hpp"
#include "core/platform/stop_signal.hpp"
#include "core/platform/unix_socket.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

namespace {

using nlohmann::json;

std::string errorReply(const std::string& text) { return json_codec::encode({{"error", text}}); }

}  // namespace

FanHelper::FanHelper(FanEngine& engine, std::chrono::milliseconds lease)
    : engine_(engine), lease_(lease) {}

std::string FanHelper::handle(std::string_view request, Clock::time_point now) {
  auto parsed = json_codec::decode(request);
  if (!parsed || !parsed->is_object()) return errorReply("the request is not a JSON object");
  auto call = parsed->find("call");
  if (call == parsed->end() || !call->is_string())
    return errorReply("the request names no \"call\"");
  const auto& name = call->get_ref<const std::string&>();
  if (name == FanHelperProtocol::status) return json_codec::encode({{"status", status(now)}});
  if (name == FanHelperProtocol::resetAll) {
    leases_.clear();
    return json_codec::encode({{"success", engine_.resetAll()}});
  }
  if (name == FanHelperProtocol::setFan) {
    auto fan = parsed->find("fan");
    auto mode = parsed->find("mode");
    auto rpm = parsed->find("rpm");
    if (fan == parsed->end() || !fan->is_number_integer() || mode == parsed->end() ||
        !mode->is_string() || rpm == parsed->end() || !rpm->is_number())
      return errorReply(std::string(FanHelperProtocol::setFan) +
                        " needs fan (an integer), mode (text) and rpm (a number)");
    auto outcome = setFan(fan->get<int64_t>(), mode->get<std::string>(), rpm->get<double>(), now);
    return json_codec::encode({{"success", outcome.success}, {"message", outcome.message}});
  }
  return errorReply("unknown call \"" + name + "\"");
}

FanEngine::Outcome FanHelper::setFan(int64_t fan, const std::string& mode, double rpm,
                                     Clock::time_point now) {
  auto preset = fanPreset(mode);
  if (!preset && mode != "manual")
    return {false, "unknown mode \"" + mode + "\" (auto, boost, max or manual)"};
  if (preset == FanPreset::automatic) {
    leases_.erase(fan);
    return engine_.setAuto(fan);
  }
  if (preset) {
    auto fans = engine_.fans();
    auto it = std::find_if(fans.begin(), fans.end(), [&](const FanInfo& f) { return f.id == fan; });
    if (it == fans.end()) return {false, "no fan " + std::to_string(fan)};
    // Without a maximum the presets have nothing to be a share of.
    if (it->maxRPM <= 0)
      return {false, "fan " + std::to_string(fan) + " reports no maximum speed; give it an rpm"};
    rpm = *target(*preset, it->minRPM, it->maxRPM);
  }
  auto outcome = engine_.setManual(fan, rpm);
  if (outcome.success) leases_[fan] = now + lease_;
  return outcome;
}

void FanHelper::expireLeases(Clock::time_point now) {
  for (auto it = leases_.begin(); it != leases_.end();) {
    if (it->second > now) {
      ++it;
      continue;
    }
    auto outcome = engine_.setAuto(it->first);
    engine_.log("lease of fan " + std::to_string(it->first) + " lapsed: " + outcome.message);
    if (outcome.success) {
      it = leases_.erase(it);
    } else {
      it->second = now + std::chrono::seconds(1);  // try again soon; never leave it pinned
      ++it;
    }
  }
}

std::string FanHelper::status(Clock::time_point now) {
  auto fans = engine_.fans();
  if (fans.empty()) return "running; no fans found";
  std::string text = "running; " + std::to_string(fans.size()) + " fan(s)";
  for (const auto& f : fans) {
    text += "; fan " + std::to_string(f.id) + " " + std::to_string(std::llround(f.rpm)) + " rpm " +
            (f.manual ? "manual" : "auto");
    if (f.manual && f.targetRPM)
      text += " at " + std::to_string(std::llround(*f.targetRPM)) + " rpm";
    if (auto lease = leases_.find(f.id); lease != leases_.end()) {
      auto left = std::chrono::ceil<std::chrono::seconds>(lease->second - now).count();
      text +=
          " (back to auto in " + std::to_string(std::max<int64_t>(left, 0)) + " s unless renewed)";
    }
  }
  return text;
}

int serveFanHelper(const FanHelperOptions& options,
                   const std::function<void(const std::string&)>& log) {
  namespace us = platform::unix_socket;
  using namespace std::chrono;
  platform::StopSignal stop;
  platform::StopSignal::SignalRoute route(stop);

  auto transport = platform::fan_transport::open(options.roots);
  auto* steering = transport.get();
  SMC smc(std::move(transport));
  FanEngine engine(smc);
  engine.log = log;
  if (!engine.resetAll()) log("a fan left manual by an earlier run did not go back to automatic");

  auto listening = us::listen(options.socket, FanHelperIDs::socketMode);
  log("listening on " + options.socket.string() + "; " + std::to_string(engine.fans().size()) +
      " fan(s)");
  FanHelper helper(engine, options.lease);

  auto allowed = [&](const us::Peer& peer) {
    return peer.uid == 0 || (options.allowedUser && peer.uid == *options.allowedUser) ||
           (options.allowedGroup &&
            (peer.gid == *options.allowedGroup || us::inGroup(peer.uid, *options.allowedGroup)));
  };
  auto nextSteer = FanHelper::Clock::now() + seconds(1);
  while (!stop.requested()) {
    if (auto connection = us::accept(listening, milliseconds(250))) {
      auto& [socket, peer] = *connection;
      std::string reply;
      if (!allowed(peer)) {
        log("refused a client: uid " + std::to_string(peer.uid) + ", pid " +
            std::to_string(peer.pid));
        reply = errorReply("uid " + std::to_string(peer.uid) + " may not use the fan helper");
      } else if (auto request = us::readLine(socket, seconds(2), 4096)) {
        reply = helper.handle(*request, FanHelper::Clock::now());
      } else {
        reply = errorReply("expected one JSON request line of at most 4096 bytes within 2 s");
      }
      us::writeAll(socket, reply + "\n", seconds(2));
    }
    auto now = FanHelper::Clock::now();
    helper.expireLeases(now);
    if (now >= nextSteer) {
      steering->steer();
      nextSteer = now + seconds(1);
    }
  }
  log("stopping: giving every fan back to automatic");
  return engine.resetAll() ? 0 : 1;
}

}  // namespace norvo
