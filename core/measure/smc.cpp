#include "core/measure/smc.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace norvo {

using platform::SmcBlock;

std::optional<double> SMC::Value::number() const { return platform::smcNumber(type, bytes); }

SMC::SMC(std::unique_ptr<platform::SmcTransport> transport) : transport_(std::move(transport)) {}

std::unique_ptr<SMC> SMC::open(const platform::Roots& roots) {
  auto transport = platform::sensor_source::openSmc(roots);
  if (!transport) return nullptr;
  return std::make_unique<SMC>(std::move(transport));
}

SMC* SMC::shared() {
  static std::once_flag once;
  static std::unique_ptr<SMC> connection;
  std::call_once(once, [] { connection = open(); });
  return connection.get();
}

std::mutex& SMC::trafficLock() {
  static std::mutex lock;
  return lock;
}

uint32_t SMC::packKey(std::string_view key) { return platform::packSmcKey(key); }

std::string SMC::unpackKey(uint32_t packed) { return platform::unpackSmcKey(packed); }

std::optional<SmcBlock> SMC::call(const SmcBlock& in) {
  if (!transport_) return std::nullopt;
  SmcBlock::Bytes out{};
  if (!transport_->call(in.encode(), out)) return std::nullopt;
  auto answer = SmcBlock::decode(out);
  if (answer.result != 0) return std::nullopt;
  return answer;
}

std::optional<SmcBlock> SMC::keyInfo(std::string_view key) {
  SmcBlock in;
  in.key = packKey(key);
  in.command = SmcBlock::keyInfo;
  return call(in);
}

std::optional<SMC::Value> SMC::read(std::string_view key) {
  auto info = keyInfo(key);
  if (!info || info->dataSize < 1 || info->dataSize > 32) return std::nullopt;
  SmcBlock in;
  in.key = packKey(key);
  in.dataSize = info->dataSize;
  in.command = SmcBlock::readKey;
  auto out = call(in);
  if (!out) return std::nullopt;
  Value v;
  v.type = unpackKey(info->dataType);
  v.bytes.assign(out->bytes.begin(), out->bytes.begin() + info->dataSize);
  return v;
}

std::optional<double> SMC::number(std::string_view key) {
  auto v = read(key);
  if (!v) return std::nullopt;
  return v->number();
}

std::vector<std::string> SMC::allKeys() {
  auto count = number("#KEY");
  // A count beyond what 32 bits of index can name is a garbled answer.
  if (!count || !std::isfinite(*count) || *count < 1 || *count > 4294967295.0) return {};
  std::vector<std::string> keys;
  auto n = static_cast<uint32_t>(*count);
  for (uint32_t i = 0; i < n; ++i) {
    SmcBlock in;
    in.command = SmcBlock::keyAtIndex;
    in.data32 = i;
    if (auto out = call(in)) keys.push_back(unpackKey(out->key));
  }
  return keys;
}

bool SMC::write(std::string_view key, const std::vector<uint8_t>& bytes) {
  auto info = keyInfo(key);
  if (!info || bytes.size() != info->dataSize || bytes.size() > 32) return false;
  SmcBlock in;
  in.key = packKey(key);
  in.dataSize = info->dataSize;
  in.command = SmcBlock::writeKey;
  std::copy(bytes.begin(), bytes.end(), in.bytes.begin());
  return call(in).has_value();
}

bool SMC::write(std::string_view key, double value) {
  if (!std::isfinite(value)) return false;
  auto current = read(key);
  if (!current) return false;
  std::vector<uint8_t> bytes;
  if (current->type == "flt ") {
    auto f = static_cast<float>(value);
    bytes.resize(4);
    std::memcpy(bytes.data(), &f, 4);
  } else if (current->type == "fpe2") {
    auto raw = static_cast<uint16_t>(std::clamp(value * 4.0, 0.0, 65535.0));
    bytes = {static_cast<uint8_t>(raw >> 8), static_cast<uint8_t>(raw & 0xff)};
  } else if (current->type == "ui8 " || current->type == "flag") {
    bytes = {static_cast<uint8_t>(std::clamp(value, 0.0, 255.0))};
  } else {
    return false;
  }
  return write(key, bytes);
}

const SMC::TemperatureKeys& SMC::temperatureKeys() {
  if (temperatureKeys_) return *temperatureKeys_;
  TemperatureKeys found;
  for (const auto& key : allKeys()) {
    bool processor = key.rfind("Tp", 0) == 0;
    bool gpu = key.rfind("Tg", 0) == 0;
    if (!processor && !gpu) continue;
    auto v = read(key);
    if (!v || v->type != "flt ") continue;
    (processor ? found.processor : found.gpu).push_back(key);
  }
  temperatureKeys_ = std::move(found);
  return *temperatureKeys_;
}

std::vector<FanInfo> FanInfo::read(SMC& smc) {
  auto count = smc.number("FNum").value_or(0);
  // The controller counts fans in one byte; anything else is a garbled answer.
  if (!std::isfinite(count) || count < 0 || count > 255) count = 0;
  std::vector<FanInfo> fans;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    std::string prefix = "F" + std::to_string(i);
    auto rpm = smc.number(prefix + "Ac");
    if (!rpm) continue;
    FanInfo f;
    f.id = i;
    f.rpm = *rpm;
    f.minRPM = smc.number(prefix + "Mn").value_or(0);
    f.maxRPM = smc.number(prefix + "Mx").value_or(0);
    f.targetRPM = smc.number(prefix + "Tg");
    f.manual = smc.number(prefix + "Md") == 1.0;
    fans.push_back(f);
  }
  return fans;
}

}  // namespace norvo
