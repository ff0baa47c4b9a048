#include "core/sampling/sampling_loop.hpp"

#include <exception>

namespace norvo {

SamplingLoop::Clock::time_point SamplingLoop::nextTick(Clock::time_point previous,
                                                       Clock::time_point now,
                                                       Clock::duration interval) {
  if (interval <= Clock::duration::zero()) interval = std::chrono::milliseconds{1};
  auto next = previous + interval;
  if (next > now) return next;
  // Whole intervals missed, plus one: the first slot strictly after now.
  return next + interval * ((now - next) / interval + 1);
}

int64_t SamplingLoop::run(const std::function<void()>& tick, const Options& options,
                          const platform::StopSignal& stop,
                          const std::function<void(const std::string&)>& report) {
  int64_t ran = 0;
  auto slot = Clock::now();
  while (!stop.requested()) {
    if (options.maxTicks && ran >= *options.maxTicks) break;
    try {
      tick();
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("unknown error");
    }
    ++ran;
    if (options.maxTicks && ran >= *options.maxTicks) break;
    slot = nextTick(slot, Clock::now(), options.interval);
    if (stop.waitUntil(slot)) break;
  }
  return ran;
}

}  // namespace norvo
