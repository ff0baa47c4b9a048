// The operating-system reads behind the sensor report: identity, temperature
// sensors with the role each plays, fans, the internal battery, energy
// counters, GPU load, disk totals and the transport to a System Management
// Controller. Every read has a fixed fallback and never throws; averaging,
// windows and rates live in core/measure and do not know which OS fed them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/roots.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo::platform {

// What a temperature sensor stands for in the aggregation. `processor` and
// `gpu` play the part of the controller's processor and GPU keys;
// `processorFallback` counts as processor only when the machine has no
// `processor` sensor at all (a firmware zone that tracks the package loosely).
enum class TemperatureRole { listed, processor, processorFallback, gpu };

struct TemperatureReading {
  std::string name;  // the name shown in the report; readings of one name are averaged
  double celsius = 0;
  TemperatureRole role = TemperatureRole::listed;

  friend bool operator==(const TemperatureReading&, const TemperatureReading&) = default;
};

// The internal battery in the terms the report's battery fields are built
// from. Capacities share one unit (percent, µWh or µAh) within a reading.
struct BatteryReading {
  std::optional<int64_t> currentCapacity;
  std::optional<int64_t> maxCapacity;
  bool charging = false;
  bool onAC = false;
  std::optional<int64_t> minutesToEmpty;
  std::optional<int64_t> cycleCount;
  std::optional<int64_t> fullChargeCapacity;
  std::optional<int64_t> designCapacity;
  std::optional<double> celsius;
  std::optional<double> adapterWatts;
  std::optional<double> dischargeWatts;  // power drawn from the battery while discharging

  friend bool operator==(const BatteryReading&, const BatteryReading&) = default;
};

// One cumulative energy counter (powercap / RAPL).
struct EnergyCounter {
  uint64_t microjoules = 0;
  uint64_t rangeMicrojoules = 0;  // the value after which the counter wraps to 0; 0 if unknown
  bool wholePlatform = false;     // the "psys" domain: the whole board, not only the package

  friend bool operator==(const EnergyCounter&, const EnergyCounter&) = default;
};

struct DiskTotals {
  uint64_t readBytes = 0;
  uint64_t writtenBytes = 0;
};

// The System Management Controller's 80-byte parameter block, field by field.
// Both directions of a call use it.
struct SmcBlock {
  static constexpr size_t size = 80;
  using Bytes = std::array<uint8_t, size>;

  uint32_t key = 0;       // four characters, first in the high byte
  uint32_t dataSize = 0;  // key info: data size
  uint32_t dataType = 0;  // key info: data type, packed like the key
  uint8_t attributes = 0;
  uint8_t result = 0;  // 0 means success
  uint8_t status = 0;
  uint8_t command = 0;  // 5 read, 6 write, 8 key at index, 9 key info
  uint32_t data32 = 0;  // the index for command 8
  std::array<uint8_t, 32> bytes{};

  static constexpr uint8_t readKey = 5;
  static constexpr uint8_t writeKey = 6;
  static constexpr uint8_t keyAtIndex = 8;
  static constexpr uint8_t keyInfo = 9;

  // Multi-byte fields are laid out in the machine's byte order, as the
  // kernel's struct is; only key and type carry meaning in their bit pattern.
  Bytes encode() const;
  static SmcBlock decode(const Bytes& raw);
};

// The first four bytes of `key` (or of a type), first in the high byte.
uint32_t packSmcKey(std::string_view key);
// The four bytes of a packed key or type, high byte first.
std::string unpackSmcKey(uint32_t packed);
// A key's bytes as a number by its type ("flt ", "ui8 ", "flag", "ui16",
// "ui32", "fpe2", "sp78"); absent for other types or too few bytes.
std::optional<double> smcNumber(std::string_view type, const std::vector<uint8_t>& bytes);

// One open connection to a controller. `call` sends one block and receives
// the answer; false when the transport itself failed (the answer's result
// byte tells the controller's verdict).
class SmcTransport {
 public:
  virtual ~SmcTransport() = default;
  virtual bool call(const SmcBlock::Bytes& in, SmcBlock::Bytes& out) = 0;
};

namespace sensor_source {

// The hardware model from the firmware (DMI, or the device tree of boards
// without it), else the processor architecture ("x86_64"); never empty.
std::string model(const Roots& roots);

// The processor's marketing name; absent when unknown.
std::optional<std::string> chip(const Roots& roots);

// The distribution's name and the kernel release; absent when neither is readable.
std::optional<std::string> osVersion(const Roots& roots);

// Boot time in whole seconds since 1970; absent when unreadable.
std::optional<int64_t> bootTime(const Roots& roots);

// Every temperature sensor, with its role; empty when there are none.
std::vector<TemperatureReading> temperatures(const Roots& roots);

// Fans that report a speed, ids 0, 1, … in a stable order; empty when none.
std::vector<FanInfo> fans(const Roots& roots);

// The first internal battery; absent when the machine has none.
std::optional<BatteryReading> battery(const Roots& roots);

// Energy counters by zone name; empty when none can be read (they are
// root-only on kernels since 5.10).
std::map<std::string, EnergyCounter> energyCounters(const Roots& roots);

// The busiest GPU's utilisation percent; absent when no GPU reports one.
std::optional<int64_t> gpuPercent(const Roots& roots);

// Bytes read and written since boot over whole disks.
DiskTotals diskTotals(const Roots& roots);

// A transport to the machine's controller; null when it has none.
std::unique_ptr<SmcTransport> openSmc(const Roots& roots);

}  // namespace sensor_source
}  // namespace norvo::platform
