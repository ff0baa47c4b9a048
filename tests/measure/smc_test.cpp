#include "core/measure/smc.hpp"

#include <gtest/gtest.h>

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

TEST(SmcKeys, FourCharacterCodes) {
  EXPECT_EQ(SMC::packKey("TC0P"), 0x54433050u);
  EXPECT_EQ(SMC::packKey("TC0PX"), SMC::packKey("TC0P"));  // only the first four count
  EXPECT_EQ(SMC::packKey("F0"), 0x4630u);                  // a short key packs what it has
  EXPECT_EQ(SMC::unpackKey(0x666C7420u), "flt ");
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
                                         {"flt ", SimulatedSmc::floatBytes(42.25f), 42.25},
                                         {"flt ", {0x00, 0x00}, std::nullopt},  // too few bytes
                                         {"ui8 ", {0xFE}, 254},
                                         {"flag", {0x01, 0x99}, 1},
                                         {"ui16", {0x12}, std::nullopt},
                                         {"ui32", {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
                                         {"ch8*", {0x41, 0x42}, std::nullopt},
                                         {"ui8 ", {}, std::nullopt}})
    EXPECT_EQ(SMC::Value({c.type, c.bytes}).number(), c.expected) << c.type;
}

TEST(SmcRead, ThroughKeyInfoInIndexOrderAndRefusingBadSizes) {
  Controller c;
  c.state->set("TB0T", "sp78", {0x1E, 0x00});
  c.state->set("EMPT", "ui8 ", {});
  c.state->set("HUGE", "ch8*", std::vector<uint8_t>(33, 1));
  c.state->set("AAAA", "ui8 ", {2});
  EXPECT_EQ(c.smc.read("TB0T"), (SMC::Value{"sp78", {0x1E, 0x00}}));
  EXPECT_EQ(c.smc.number("TB0T"), 30.0);
  EXPECT_EQ(c.smc.allKeys(), (std::vector<std::string>{"TB0T", "EMPT", "HUGE", "AAAA"}));
  EXPECT_FALSE(c.smc.read("NOPE"));
  EXPECT_FALSE(c.smc.read("EMPT"));  // data size 0
  EXPECT_FALSE(c.smc.read("HUGE"));  // beyond the 32-byte value field
  c.state->transportDown = true;
  EXPECT_FALSE(c.smc.read("TB0T"));
  EXPECT_TRUE(c.smc.allKeys().empty());
}

TEST(SmcRead, TemperatureKeysAreDiscoveredOnce) {
  Controller c;
  c.state->set("Tp01", "flt ", SimulatedSmc::floatBytes(45));
  c.state->set("Tp02", "sp78", {0x2F, 0x80});  // not a float: not a temperature key
  c.state->set("Tg05", "flt ", SimulatedSmc::floatBytes(40));
  c.state->set("TC0P", "flt ", SimulatedSmc::floatBytes(50));
  c.state->set("Tp0a", "flt ", SimulatedSmc::floatBytes(47));
  EXPECT_EQ(c.smc.temperatureKeys().processor, (std::vector<std::string>{"Tp01", "Tp0a"}));
  EXPECT_EQ(c.smc.temperatureKeys().gpu, (std::vector<std::string>{"Tg05"}));
  int calls = c.state->calls;
  c.state->set("Tp09", "flt ", SimulatedSmc::floatBytes(41));
  EXPECT_EQ(c.smc.temperatureKeys().processor.size(), 2u);
  EXPECT_EQ(c.state->calls, calls);
}

TEST(SmcFans, ReadsEachFanAndLeavesOutSilentOnes) {
  Controller c;
  EXPECT_TRUE(FanInfo::read(c.smc).empty());  // no "FNum"
  c.state->set("FNum", "ui8 ", {3});
  c.state->set("F0Ac", "fpe2", fpe2(1800));
  c.state->set("F0Mn", "fpe2", fpe2(1200));
  c.state->set("F0Mx", "fpe2", fpe2(6000));
  c.state->set("F0Tg", "flt ", SimulatedSmc::floatBytes(2000));
  c.state->set("F0Md", "ui8 ", {1});
  c.state->set("F1Mn", "fpe2", fpe2(1000));  // no actual speed: left out
  c.state->set("F2Ac", "flt ", SimulatedSmc::floatBytes(2500.5f));
  c.state->set("F2Md", "ui8 ", {2});
  EXPECT_EQ(FanInfo::read(c.smc), (std::vector<FanInfo>{{0, 1800, 1200, 6000, 2000, true},
                                                        {2, 2500.5, 0, 0, std::nullopt, false}}));
}

}  // namespace
}  // namespace norvo
