// The rhythm of the measuring loop, apart from what a tick does: ticks on a
// steady clock at a fixed phase (start + k·interval, so small delays never add
// up to drift), no burst of catch-up ticks after an overrun (missed slots are
// skipped), and a tick that throws is reported and followed by the next one,
// since every tick writes its records again and so retries whatever failed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/platform/stop_signal.hpp"

namespace norvo {

struct SamplingLoop {
  using Clock = std::chrono::steady_clock;

  // The first slot after `now` in the series `previous + k·interval`, k ≥ 1.
  // A tick that ended before its next slot keeps that slot; one that overran
  // skips the slots it missed instead of firing them back to back. A
  // non-positive interval counts as one millisecond.
  static Clock::time_point nextTick(Clock::time_point previous, Clock::time_point now,
                                    Clock::duration interval);

  struct Options {
    Clock::duration interval = std::chrono::seconds{5};
    std::optional<int64_t> maxTicks;  // absent: until stopped
  };

  // Runs `tick` now and then at every slot until `stop` is requested (checked
  // before each tick and throughout each wait) or `maxTicks` ran. What a tick
  // throws goes to `report` and the loop goes on. Returns the ticks run.
  static int64_t run(const std::function<void()>& tick, const Options& options,
                     const platform::StopSignal& stop,
                     const std::function<void(const std::string&)>& report);
};

}  // namespace norvo
