#include "core/measure/smc.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "measure/simulated_smc.hpp"

namespace norvo {
namespace {

using test::SimulatedSmc;

struct Controller {
  std::shared_ptr<SimulatedSmc::State> state = std::make_shared<SimulatedSmc::State>();
  SMC smc{std::make_unique<SimulatedSmc>(state)};
};

std::vector<uint8_t> fpe2(double rpm) {
  auto raw = static_cast<uint16_t>(rpm * 4);
  return {static_cast<uint8_t>(raw >> 8), static_cast<uint8_t>(raw)};
}

TEST(SmcKeys, PackingAndUnpacking) {
  EXPECT_EQ(SMC::packKey("TC0P"), 0x54433050u);
  EXPECT_EQ(SMC::packKey("TC0PX"), SMC::packKey("TC0P"));  // only the first four count
  EXPECT_EQ(SMC::packKey("F0"), 0x4630u);                  // a short key packs what it has
  EXPECT_EQ(SMC::packKey(""), 0u);
  EXPECT_EQ(SMC::unpackKey(0x666C7420u), "flt ");
  EXPECT_EQ(SMC::unpackKey(SMC::packKey("#KEY")), "#KEY");
}

TEST(SmcKeys, ParameterBlockLayout) {
  platform::SmcBlock b;
  b.key = SMC::packKey("PSTR");
  b.dataSize = 4;
  b.dataType = SMC::packKey("flt ");
  b.result = 0x84;
  b.command = platform::SmcBlock::keyAtIndex;
  b.data32 = 7;
  b.bytes[0] = 0xAB;
  b.bytes[31] = 0xCD;
  auto raw = b.encode();
  EXPECT_EQ(raw[40], 0x84);
  EXPECT_EQ(raw[42], 8);
  EXPECT_EQ(raw[48], 0xAB);
  EXPECT_EQ(raw[79], 0xCD);
  uint32_t index = 0;
  std::memcpy(&index, &raw[44], 4);
  EXPECT_EQ(index, 7u);
  EXPECT_EQ(raw[4], 0);  // version and power-limit fields stay zero
  auto back = platform::SmcBlock::decode(raw);
  EXPECT_EQ(back.key, b.key);
  EXPECT_EQ(back.dataType, b.dataType);
  EXPECT_EQ(back.dataSize, 4u);
  EXPECT_EQ(back.bytes, b.bytes);
}

TEST(SmcValue, NumberByType) {
  struct Case {
    std::string type;
    std::vector<uint8_t> bytes;
    std::optional<double> expected;
  };
  float f = 42.25f;
  std::vector<uint8_t> flt(4);
  std::memcpy(flt.data(), &f, 4);
  const Case cases[] = {
      {"sp78", {0x2F, 0x80}, 47.5},
      {"sp78", {0xFF, 0x80}, -0.5},  // signed
      {"fpe2", {0x1F, 0x40}, 2000},
      {"flt ", flt, 42.25},
      {"flt ", {0x00, 0x00}, std::nullopt},  // too few bytes
      {"ui8 ", {0xFE}, 254},
      {"flag", {0x01, 0x99}, 1},
      {"ui16", {0x12, 0x34}, 0x1234},
      {"ui16", {0x12}, std::nullopt},
      {"ui32", {0x00, 0x01, 0x00, 0x02}, 65538},
      {"ui32", {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
      {"ch8*", {0x41, 0x42}, std::nullopt},
      {"ui8 ", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(SMC::Value({c.type, c.bytes}).number(), c.expected);
  }
}

TEST(SmcRead, ReadsThroughKeyInfoAndRefusesBadSizes) {
  Controller c;
  c.state->set("TB0T", "sp78", {0x1E, 0x00});
  c.state->set("EMPT", "ui8 ", {});
  c.state->set("HUGE", "ch8*", std::vector<uint8_t>(33, 1));
  auto v = c.smc.read("TB0T");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->type, "sp78");
  EXPECT_EQ(v->bytes, (std::vector<uint8_t>{0x1E, 0x00}));
  EXPECT_EQ(c.smc.number("TB0T"), 30.0);
  EXPECT_FALSE(c.smc.read("NOPE"));
  EXPECT_FALSE(c.smc.read("EMPT"));  // data size 0
  EXPECT_FALSE(c.smc.read("HUGE"));  // beyond the 32-byte value field
  c.state->transportDown = true;
  EXPECT_FALSE(c.smc.read("TB0T"));
  EXPECT_TRUE(c.smc.allKeys().empty());
}

TEST(SmcRead, AllKeysInIndexOrder) {
  Controller c;
  c.state->set("ZZZZ", "ui8 ", {1});
  c.state->set("AAAA", "ui8 ", {2});
  c.state->set("F0Ac", "fpe2", fpe2(1200));
  EXPECT_EQ(c.smc.allKeys(), (std::vector<std::string>{"ZZZZ", "AAAA", "F0Ac"}));
}

TEST(SmcRead, TemperatureKeysAreDiscoveredOnce) {
  Controller c;
  c.state->set("Tp01", "flt ", SimulatedSmc::floatBytes(45));
  c.state->set("Tp02", "sp78", {0x2F, 0x80});  // not a float: not a temperature key
  c.state->set("Tg05", "flt ", SimulatedSmc::floatBytes(40));
  c.state->set("TC0P", "flt ", SimulatedSmc::floatBytes(50));
  c.state->set("Tp0a", "flt ", SimulatedSmc::floatBytes(47));
  const auto& keys = c.smc.temperatureKeys();
  EXPECT_EQ(keys.processor, (std::vector<std::string>{"Tp01", "Tp0a"}));
  EXPECT_EQ(keys.gpu, (std::vector<std::string>{"Tg05"}));
  int calls = c.state->calls;
  c.state->set("Tp09", "flt ", SimulatedSmc::floatBytes(41));
  EXPECT_EQ(c.smc.temperatureKeys().processor.size(), 2u);
  EXPECT_EQ(c.state->calls, calls);
}

TEST(SmcFans, ReadsEachFanAndLeavesOutSilentOnes) {
  Controller c;
  c.state->set("FNum", "ui8 ", {3});
  c.state->set("F0Ac", "fpe2", fpe2(1800));
  c.state->set("F0Mn", "fpe2", fpe2(1200));
  c.state->set("F0Mx", "fpe2", fpe2(6000));
  c.state->set("F0Tg", "flt ", SimulatedSmc::floatBytes(2000));
  c.state->set("F0Md", "ui8 ", {1});
  c.state->set("F1Mn", "fpe2", fpe2(1000));  // no actual speed: left out
  c.state->set("F2Ac", "flt ", SimulatedSmc::floatBytes(2500.5f));
  c.state->set("F2Md", "ui8 ", {2});
  auto fans = FanInfo::read(c.smc);
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_EQ(fans[0], (FanInfo{0, 1800, 1200, 6000, 2000, true}));
  EXPECT_EQ(fans[1], (FanInfo{2, 2500.5, 0, 0, std::nullopt, false}));

  Controller none;
  EXPECT_TRUE(FanInfo::read(none.smc).empty());  // no "FNum"
}

TEST(SmcWrite, EncodesByTypeAndChecksSize) {
  Controller c;
  c.state->set("F0Tg", "fpe2", fpe2(0));
  c.state->set("F1Tg", "flt ", SimulatedSmc::floatBytes(0));
  c.state->set("F0Md", "ui8 ", {0});
  c.state->set("Ftst", "flag", {0});
  c.state->set("TEXT", "ch8*", {0, 0});
  c.state->set("LOCK", "ui8 ", {0});
  c.state->keys.back().writable = false;

  EXPECT_TRUE(c.smc.write("F0Tg", 2000.0));
  EXPECT_EQ(c.smc.number("F0Tg"), 2000);
  EXPECT_TRUE(c.smc.write("F0Tg", 1e9));  // clamped to the 16-bit range
  EXPECT_EQ(c.smc.number("F0Tg"), 65535 / 4.0);
  EXPECT_TRUE(c.smc.write("F0Tg", -5));
  EXPECT_EQ(c.smc.number("F0Tg"), 0);
  EXPECT_TRUE(c.smc.write("F1Tg", 3100.5));
  EXPECT_EQ(c.smc.number("F1Tg"), 3100.5);
  EXPECT_TRUE(c.smc.write("F0Md", 300));
  EXPECT_EQ(c.smc.number("F0Md"), 255);
  EXPECT_TRUE(c.smc.write("Ftst", 1));
  EXPECT_EQ(c.smc.number("Ftst"), 1);

  EXPECT_FALSE(c.smc.write("TEXT", 1.0));  // a type with no number encoding
  EXPECT_FALSE(c.smc.write("NOPE", 1.0));
  EXPECT_FALSE(c.smc.write("F0Tg", std::nan("")));
  EXPECT_FALSE(c.smc.write("F0Md", std::vector<uint8_t>{1, 2}));  // wrong size
  EXPECT_FALSE(c.smc.write("LOCK", 1.0));                         // refused by the controller
  EXPECT_EQ(c.state->writes,
            (std::vector<std::string>{"F0Tg", "F0Tg", "F0Tg", "F1Tg", "F0Md", "Ftst"}));
}

}  // namespace
}  // namespace norvo
