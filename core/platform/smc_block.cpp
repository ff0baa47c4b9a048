// The controller's parameter block and value encodings: the vocabulary the
// transport and the SMC connection above it share.
#include <algorithm>
#include <cstring>

#include "core/platform/sensor_source.hpp"

namespace norvo::platform {

SmcBlock::Bytes SmcBlock::encode() const {
  Bytes raw{};
  std::memcpy(&raw[0], &key, 4);
  std::memcpy(&raw[28], &dataSize, 4);
  std::memcpy(&raw[32], &dataType, 4);
  raw[36] = attributes;
  raw[40] = result;
  raw[41] = status;
  raw[42] = command;
  std::memcpy(&raw[44], &data32, 4);
  std::memcpy(&raw[48], bytes.data(), bytes.size());
  return raw;
}

SmcBlock SmcBlock::decode(const Bytes& raw) {
  SmcBlock b;
  std::memcpy(&b.key, &raw[0], 4);
  std::memcpy(&b.dataSize, &raw[28], 4);
  std::memcpy(&b.dataType, &raw[32], 4);
  b.attributes = raw[36];
  b.result = raw[40];
  b.status = raw[41];
  b.command = raw[42];
  std::memcpy(&b.data32, &raw[44], 4);
  std::memcpy(b.bytes.data(), &raw[48], b.bytes.size());
  return b;
}

namespace {

uint32_t bigEndian(const std::vector<uint8_t>& b, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | b[i];
  return v;
}

}  // namespace

std::optional<double> smcNumber(std::string_view type, const std::vector<uint8_t>& bytes) {
  auto need = [&](size_t n) { return bytes.size() >= n; };
  if (type == "flt ") {
    if (!need(4)) return std::nullopt;
    float f = 0;
    std::memcpy(&f, bytes.data(), 4);
    return static_cast<double>(f);
  }
  if (type == "ui8 " || type == "flag") {
    if (!need(1)) return std::nullopt;
    return static_cast<double>(bytes[0]);
  }
  if (type == "ui16") {
    if (!need(2)) return std::nullopt;
    return static_cast<double>(bigEndian(bytes, 2));
  }
  if (type == "ui32") {
    if (!need(4)) return std::nullopt;
    return static_cast<double>(bigEndian(bytes, 4));
  }
  if (type == "fpe2") {
    if (!need(2)) return std::nullopt;
    return static_cast<double>(bigEndian(bytes, 2)) / 4.0;
  }
  if (type == "sp78") {
    if (!need(2)) return std::nullopt;
    auto raw = static_cast<uint16_t>(bigEndian(bytes, 2));
    return static_cast<double>(static_cast<int16_t>(raw)) / 256.0;
  }
  return std::nullopt;
}

uint32_t packSmcKey(std::string_view key) {
  uint32_t packed = 0;
  size_t n = std::min<size_t>(key.size(), 4);
  for (size_t i = 0; i < n; ++i) packed = (packed << 8) | static_cast<uint8_t>(key[i]);
  return packed;
}

std::string unpackSmcKey(uint32_t packed) {
  std::string text(4, '\0');
  for (int i = 0; i < 4; ++i)
    text[static_cast<size_t>(i)] = static_cast<char>(packed >> (24 - 8 * i));
  return text;
}

}  // namespace norvo::platform
