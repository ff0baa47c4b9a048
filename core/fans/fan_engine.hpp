// The engine the fan helper runs: presets, the one clamp every target goes
// through, and the manual and automatic writes with the retries a controller
// that is slow to yield needs. On machines whose thermal daemon owns the fans
// the engine unlocks manual control through "Ftst" and hands it back as soon
// as no fan is manual any more. Nothing here throws; every operation answers
// with a success flag and the message the owner reads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/measure/smc.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo {

// `automatic` is the preset whose text is "auto" (a C++ keyword).
enum class FanPreset { automatic, boost, max };

// "auto", "boost" or "max".
std::string_view rawValue(FanPreset preset);
// The preset of a text; absent for anything else.
std::optional<FanPreset> fanPreset(std::string_view text);

// The rpm a preset asks of a fan with this range, clamped like
// FanEngine::clamp; absent for `automatic` (the system decides).
std::optional<double> target(FanPreset preset, double minRPM, double maxRPM);

class FanEngine {
 public:
  struct Outcome {
    bool success = false;
    std::string message;

    friend bool operator==(const Outcome&, const Outcome&) = default;
  };

  // `smc` must outlive the engine; the engine is its only writer.
  explicit FanEngine(SMC& smc);

  // Told each step worth a line in the helper's log. Does nothing by default.
  std::function<void(const std::string&)> log = [](const std::string&) {};
  // Waits `seconds` between retries. Sleeps the thread by default; tests
  // count instead of waiting.
  std::function<void(double seconds)> pause;

  // Whether this engine set "Ftst" to 1 and has not released it yet.
  bool unlockedByUs() const { return unlockedByUs_; }

  // The fans as the controller reports them now.
  std::vector<FanInfo> fans();

  // With a minimum above 0, `rpm` limited to min…max (min when min ≥ max);
  // otherwise `rpm`, never below 0.
  static double clamp(double rpm, double min, double max);

  // Pins fan `fan` at `rpm` (clamped to the fan's range).
  Outcome setManual(int64_t fan, double rpm);
  // Hands fan `fan` back to the system.
  Outcome setAuto(int64_t fan);
  // Every manual fan back to automatic, then "Ftst" released whoever set it;
  // true when every fan went back (also when there are none).
  bool resetAll();

 private:
  std::string modeKey(int64_t fan);
  bool writeReadBack(const std::string& key, double value);
  void releaseUnlock(bool forced);

  SMC& smc_;
  bool unlockedByUs_ = false;
};

}  // namespace norvo
