// The System Management Controller: one open connection, its key list, and
// reading, decoding and writing key values. All traffic goes through a
// transport (`platform::SmcTransport`) that moves 80-byte parameter blocks,
// so the same code runs against a real controller and a simulated one.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/roots.hpp"
#include "core/platform/sensor_source.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo {

class SMC {
 public:
  struct Value {
    std::string type;  // four characters, such as "flt "
    std::vector<uint8_t> bytes;

    // The value as a number by its type; absent for unknown types or too few bytes.
    std::optional<double> number() const;

    friend bool operator==(const Value&, const Value&) = default;
  };

  explicit SMC(std::unique_ptr<platform::SmcTransport> transport);

  // A connection to the machine's controller; null when there is none.
  static std::unique_ptr<SMC> open(const platform::Roots& roots = platform::Roots::system());

  // The process-wide connection, opened on first use and never retried;
  // null when the machine has no controller.
  static SMC* shared();

  // The one lock every caller holds around SMC traffic, in this process.
  static std::mutex& trafficLock();

  // The key's type and bytes; absent when the controller does not know it.
  std::optional<Value> read(std::string_view key);
  // read(key) as a number.
  std::optional<double> number(std::string_view key);
  // Every key in the controller's index order; empty when "#KEY" is unreadable.
  std::vector<std::string> allKeys();

  // Writes exactly the key's data size; false when the size differs or the
  // controller refuses.
  bool write(std::string_view key, const std::vector<uint8_t>& bytes);
  // Encodes `value` in the key's type ("flt ", "fpe2", "ui8 ", "flag");
  // false for other types or unknown keys.
  bool write(std::string_view key, double value);

  // The processor ("Tp…") and GPU ("Tg…") temperature keys whose values are
  // floats. Walked once per connection, then kept.
  struct TemperatureKeys {
    std::vector<std::string> processor;
    std::vector<std::string> gpu;
  };
  const TemperatureKeys& temperatureKeys();

  // The first four bytes of `key`, first in the high byte.
  static uint32_t packKey(std::string_view key);
  // The four bytes of a packed key or type, high byte first.
  static std::string unpackKey(uint32_t packed);

 private:
  std::optional<platform::SmcBlock> call(const platform::SmcBlock& in);
  std::optional<platform::SmcBlock> keyInfo(std::string_view key);

  std::unique_ptr<platform::SmcTransport> transport_;
  std::optional<TemperatureKeys> temperatureKeys_;
};

}  // namespace norvo
