#include "core/store/uuid.hpp"

#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <random>

namespace norvo::uuid {

namespace {

void fillRandom(std::array<uint8_t, 16>& bytes) {
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    got += static_cast<size_t>(n);
  }
  if (got == bytes.size()) return;
  // Only reached on kernels without getrandom(2); random_device reads /dev/urandom.
  try {
    std::random_device device;
    for (auto& b : bytes) b = static_cast<uint8_t>(device());
  } catch (const std::exception&) {
    // No random source at all: ids must still differ between processes and calls.
    static std::mt19937_64 fallback(
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<uint64_t>(::getpid()) << 32));
    for (auto& b : bytes) b = static_cast<uint8_t>(fallback());
  }
}

}  // namespace

std::string make() {
  std::array<uint8_t, 16> bytes{};
  fillRandom(bytes);
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(hex[bytes[i] >> 4]);
    out.push_back(hex[bytes[i] & 0x0F]);
  }
  return out;
}

bool isCanonical(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

}  // namespace norvo::uuid
