#include "core/sampling/sampling_loop.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace norvo {
namespace {

using namespace std::chrono_literals;
using Clock = SamplingLoop::Clock;
const auto ignore = [](const std::string&) {};

TEST(SamplingLoopNextTick, KeepsThePhaseAndSkipsMissedSlots) {
  const Clock::time_point t0{};
  struct Case {
    const char* what;
    Clock::duration now, interval, expected;
  };
  for (const auto& c :
       std::vector<Case>{{"tick ended early: the next slot", 1s, 5s, 5s},
                         {"tick ended exactly on the slot: the one after", 5s, 5s, 10s},
                         {"overrun by a bit: one slot skipped", 6s, 5s, 10s},
                         {"long overrun landing on a slot: strictly after now", 500s, 5s, 505s},
                         {"zero interval is not a busy loop of the same slot", 0s, 0s, 1ms}})
    EXPECT_EQ(SamplingLoop::nextTick(t0, t0 + c.now, c.interval), t0 + c.expected) << c.what;
}

TEST(SamplingLoopRun, GoesOnAfterAThrowingTickAndReportsIt) {
  platform::StopSignal stop;
  int calls = 0;
  std::vector<std::string> reports;
  auto ran = SamplingLoop::run(
      [&] {
        if (++calls == 1) throw std::runtime_error("disk full");
        if (calls == 3) throw 42;
      },
      {1ms, 4}, stop, [&](const std::string& m) { reports.push_back(m); });
  EXPECT_EQ(ran, 4);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(reports, (std::vector<std::string>{"disk full", "unknown error"}));
}

TEST(SamplingLoopRun, StopsPromptlyInALongWaitAndAfterATickThatAsksForIt) {
  platform::StopSignal stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.request();
  });
  auto start = Clock::now();
  EXPECT_EQ(SamplingLoop::run([] {}, {1h, std::nullopt}, stop, ignore), 1);
  EXPECT_LT(Clock::now() - start, 2s);
  stopper.join();

  platform::StopSignal fromInside;
  int calls = 0;
  auto ran = SamplingLoop::run(
      [&] {
        if (++calls == 2) fromInside.request();
      },
      {1ms, std::nullopt}, fromInside, ignore);
  EXPECT_EQ(ran, 2);
}

TEST(SamplingLoopRun, AnOverrunningTickIsNotFollowedByABurst) {
  platform::StopSignal stop;
  std::vector<Clock::time_point> starts;
  SamplingLoop::run(
      [&] {
        starts.push_back(Clock::now());
        if (starts.size() == 1) std::this_thread::sleep_for(350ms);
      },
      {100ms, 3}, stop, ignore);
  ASSERT_EQ(starts.size(), 3u);
  // Slots at 100, 200 and 300 ms were missed; the next one is at 400 ms, and
  // the one after keeps the full interval.
  EXPECT_GE(starts[1] - starts[0], 395ms);
  EXPECT_GE(starts[2] - starts[1], 90ms);
}

}  // namespace
}  // namespace norvo
