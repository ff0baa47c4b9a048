// The owner's side of the fan helper. Before sending anything it makes sure
// the socket is the helper's: a socket file owned by the expected user (root)
// with the helper's mode, and a listener the kernel names as that user.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "core/fans/fan_engine.hpp"
#include "core/fans/fan_helper.hpp"

namespace norvo {

struct FanHelperClient {
  enum class Failure {
    notRunning,  // nothing listens at the socket: the helper is not installed or stopped
    untrusted,   // something listens that is not the helper
    refused,     // the helper answered with an error
    broken,      // no answer, or one that is not the protocol's
  };
  struct Error {
    Failure failure = Failure::broken;
    std::string message;
  };

  std::filesystem::path socket{FanHelperIDs::socketPath};
  uint32_t expectedOwner = 0;
  // Long enough for a controller that takes seconds to yield manual control.
  std::chrono::milliseconds timeout{30000};

  // The helper's status text.
  std::optional<std::string> status(Error& error) const;
  // The engine's success flag and message for `mode` ("auto", "boost", "max"
  // or "manual" with `rpm`).
  std::optional<FanEngine::Outcome> setFan(int64_t fan, std::string_view mode, double rpm,
                                           Error& error) const;
  // Whether every fan went back.
  std::optional<bool> resetAll(Error& error) const;

  // One request, one reply object.
  std::optional<nlohmann::json> call(const nlohmann::json& request, Error& error) const;
};

}  // namespace norvo
