#include "core/measure/smc.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace norvo {
namespace {

std::vector<uint8_t> floatBytes(float f) {
  std::vector<uint8_t> b(4);
  std::memcpy(b.data(), &f, 4);
  return b;
}

TEST(SmcValue, NumberByType) {
  struct Case {
    std::string type;
    std::vector<uint8_t> bytes;
    std::optional<double> expected;
  };
  for (const auto& c : std::vector<Case>{{"sp78", {0x2F, 0x80}, 47.5},
                                         {"sp78", {0xFF, 0x80}, -0.5},  // signed
                                         {"fpe2", {0x1F, 0x40}, 2000},
                                         {"flt ", floatBytes(42.25f), 42.25},
                                         {"flt ", {0x00, 0x00}, std::nullopt},  // too few bytes
                                         {"ui8 ", {0xFE}, 254},
                                         {"flag", {0x01, 0x99}, 1},
                                         {"ui16", {0x12}, std::nullopt},
                                         {"ui32", {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
                                         {"ch8*", {0x41, 0x42}, std::nullopt},
                                         {"ui8 ", {}, std::nullopt}})
    EXPECT_EQ(SMC::Value({c.type, c.bytes}).number(), c.expected) << c.type;
}

}  // namespace
}  // namespace norvo
