#include "core/fans/fan_engine.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace norvo {

namespace {

// Bounded first: llround of a value beyond 64 bits is unspecified.
std::string wholeRpm(double rpm) {
  return std::to_string(std::llround(std::clamp(rpm, -1e15, 1e15)));
}

std::string fanKey(int64_t fan, const char* suffix) { return "F" + std::to_string(fan) + suffix; }

constexpr const char* unlockKey = "Ftst";

}  // namespace

std::string_view rawValue(FanPreset preset) {
  switch (preset) {
    case FanPreset::automatic: return "auto";
    case FanPreset::boost: return "boost";
    case FanPreset::max: return "max";
  }
  return "auto";
}

std::optional<FanPreset> fanPreset(std::string_view text) {
  for (auto p : {FanPreset::automatic, FanPreset::boost, FanPreset::max})
    if (rawValue(p) == text) return p;
  return std::nullopt;
}

std::optional<double> target(FanPreset preset, double minRPM, double maxRPM) {
  switch (preset) {
    case FanPreset::automatic: return std::nullopt;
    case FanPreset::boost:
      return FanEngine::clamp(minRPM + (maxRPM - minRPM) * 0.6, minRPM, maxRPM);
    case FanPreset::max: return FanEngine::clamp(maxRPM, minRPM, maxRPM);
  }
  return std::nullopt;
}

FanEngine::FanEngine(SMC& smc)
    : pause([](double seconds) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      }),
      smc_(smc) {}

std::vector<FanInfo> FanEngine::fans() { return FanInfo::read(smc_); }

double FanEngine::clamp(double rpm, double min, double max) {
  if (min > 0) return min >= max ? min : std::clamp(rpm, min, max);
  return std::max(rpm, 0.0);
}

// Newer controllers name the mode key in lower case; older ones only know "Md".
std::string FanEngine::modeKey(int64_t fan) {
  auto lower = fanKey(fan, "md");
  return smc_.read(lower) ? lower : fanKey(fan, "Md");
}

// A write the controller accepted is not yet one it keeps: the thermal daemon
// may put the old value back, so only the value read afterwards counts.
bool FanEngine::writeReadBack(const std::string& key, double value) {
  return smc_.write(key, value) && smc_.number(key) == value;
}

FanEngine::Outcome FanEngine::setManual(int64_t fan, double rpm) {
  auto all = fans();
  auto it = std::find_if(all.begin(), all.end(), [&](const FanInfo& f) { return f.id == fan; });
  if (it == all.end()) return {false, "no fan " + std::to_string(fan)};
  const std::string targetFailed = "target write failed for fan " + std::to_string(fan);
  if (!std::isfinite(rpm)) return {false, targetFailed};
  double goal = clamp(rpm, it->minRPM, it->maxRPM);
  auto mode = modeKey(fan);

  bool manual = smc_.number(mode) == 1.0;
  for (int i = 0; i < 3 && !manual; ++i) {
    manual = writeReadBack(mode, 1);
    if (!manual) pause(0.05);
  }
  if (!manual) {
    if (!smc_.read(unlockKey)) return {false, "manual mode refused for fan " + std::to_string(fan)};
    if (smc_.number(unlockKey) != 1.0) {
      bool unlocked = false;
      for (int i = 0; i < 100 && !unlocked; ++i) {
        unlocked = smc_.write(unlockKey, 1);
        if (!unlocked) pause(0.05);
      }
      if (!unlocked) return {false, "Ftst unlock failed"};
      unlockedByUs_ = true;
      log("Ftst=1, waiting for thermalmonitord to yield");
      pause(3.0);
    }
    for (int i = 0; i < 100 && !manual; ++i) {
      manual = writeReadBack(mode, 1);
      if (!manual) pause(0.1);
    }
    if (!manual) return {false, "manual mode refused for fan " + std::to_string(fan)};
  }

  auto targetKey = fanKey(fan, "Tg");
  bool written = false;
  for (int i = 0; i < 10 && !written; ++i) {
    written = smc_.write(targetKey, goal);
    if (!written) pause(0.05);
  }
  auto readBack = smc_.number(targetKey);
  // The controller stores the target in its own encoding (a quarter rpm, or
  // rounded by the driver), so a small difference is the same target.
  if (!written || !readBack || std::abs(*readBack - goal) >= 50) return {false, targetFailed};
  std::string message = "fan " + std::to_string(fan) + " manual " + wholeRpm(goal) +
                        " rpm (asked " + wholeRpm(rpm) + "): " + wholeRpm(*readBack) + " rpm";
  log(message);
  return {true, message};
}

FanEngine::Outcome FanEngine::setAuto(int64_t fan) {
  auto mode = modeKey(fan);
  bool automatic = false;
  for (int i = 0; i < 10 && !automatic; ++i) {
    automatic = writeReadBack(mode, 0);
    if (!automatic) pause(0.05);
  }
  auto all = fans();
  if (std::none_of(all.begin(), all.end(), [](const FanInfo& f) { return f.manual; }))
    releaseUnlock(false);
  log("fan " + std::to_string(fan) + " auto: " + (automatic ? "true" : "false"));
  if (!automatic) return {false, "auto mode refused for fan " + std::to_string(fan)};
  return {true, "fan " + std::to_string(fan) + ": auto"};
}

void FanEngine::releaseUnlock(bool forced) {
  if (!unlockedByUs_ && !forced) return;
  if (!smc_.read(unlockKey)) return;
  for (int i = 0; i < 10; ++i) {
    if (smc_.write(unlockKey, 0)) break;
    pause(0.05);
  }
  log("Ftst=0");
  unlockedByUs_ = false;
}

bool FanEngine::resetAll() {
  bool all = true;
  for (const auto& f : fans())
    if (f.manual) all = setAuto(f.id).success && all;
  releaseUnlock(true);
  return all;
}

}  // namespace norvo
