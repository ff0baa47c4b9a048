// The machine's fans as a controller that knows only the fan keys, for
// systems whose kernel drives the fans instead of handing out the controller:
// "FNum", and per fan i (0 to 9) "F<i>Ac" (speed), "F<i>Mn", "F<i>Mx" (range,
// where the hardware says), "F<i>Tg" (target) and "F<i>Md" (1 manual, 0
// automatic), the last two only on fans that can be driven. No kernel fan
// interface offers "Ftst", so it never exists here and mode writes stick at
// once. Writes go to files beneath the given /sys root only, never through a
// link.
#pragma once

#include <memory>

#include "core/platform/roots.hpp"
#include "core/platform/sensor_source.hpp"

namespace norvo::platform {

class FanTransport : public SmcTransport {
 public:
  // One step of the speed loop for each fan that holds an rpm target only by
  // its duty cycle: the duty moves towards the target by the measured speed.
  // Call it about once a second while fans are manual; other fans are left
  // alone.
  virtual void steer() = 0;
};

namespace fan_transport {

// The fans found beneath `roots.sys`; a transport with "FNum" 0 when none.
std::unique_ptr<FanTransport> open(const Roots& roots);

// The next duty cycle (0–255) for a fan at `duty` turning at `rpm` that should
// turn at `targetRPM`; `maxRPM` 0 when the hardware does not say. Steps are
// bounded so one wrong speed reading cannot slam the fan.
int nextDuty(int duty, double rpm, double targetRPM, double maxRPM);

}  // namespace fan_transport
}  // namespace norvo::platform
