#include "core/fans/fan_engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "fans/simulated_smc.hpp"

namespace norvo {
namespace {

using test::SimulatedSmc;

// An engine over a simulated controller that counts its pauses instead of
// sleeping them.
struct Rig {
  SimulatedSmc* machine;
  SMC smc;
  FanEngine engine;
  std::vector<double> pauses;

  Rig()
      : machine(new SimulatedSmc({{}, {}})),
        smc(std::unique_ptr<platform::SmcTransport>(machine)),
        engine(smc) {
    engine.pause = [this](double s) { pauses.push_back(s); };
  }
};

// In-range and above-range speeds and the presets' targets are seen through
// the manual-mode table and the helper's replies.
TEST(FanEngine, ClampAtTheRangeEdges) {
  // Without a minimum there is no range at all, only no negative speed.
  for (auto [rpm, min, max, expected] :
       std::vector<std::array<double, 4>>{{500, 1200, 6000, 1200},
                                          {-10, 0, 0, 0},
                                          {7000, 0, 6000, 7000},
                                          {3000, 4000, 4000, 4000},
                                          {3000, 5000, 4000, 5000}})
    EXPECT_EQ(FanEngine::clamp(rpm, min, max), expected) << rpm << " in " << min << "…" << max;
}

// A machine whose mode writes stick at once: the target is written and read
// back, "Ftst" is never touched. Where the lower-case mode key exists, it is
// the one written.
TEST(FanEngine, ManualWhereModeWritesStick) {
  struct Case {
    int64_t fan;
    double rpm;
    double skew;
    FanEngine::Outcome expected;
    std::string mode = "Md";
  };
  for (const auto& c : std::vector<Case>{
           {1, 9000, 0, {true, "fan 1 manual 6000 rpm (asked 9000): 6000 rpm"}},
           {0, 4080, 40, {true, "fan 0 manual 4080 rpm (asked 4080): 4120 rpm"}},
           {0, 4080, -50, {false, "target write failed for fan 0"}},
           {2, 3000, 0, {false, "no fan 2"}},
           {-1, 3000, 0, {false, "no fan -1"}},
           {0, 2500, 0, {true, "fan 0 manual 2500 rpm (asked 2500): 2500 rpm"}, "md"}}) {
    const std::string fan = "F" + std::to_string(c.fan);
    Rig rig;
    rig.machine->set("Ftst", "ui8 ", 0);
    if (c.mode != "Md") rig.machine->set(fan + c.mode, "ui8 ", 0);
    rig.machine->targetSkew = c.skew;
    EXPECT_EQ(rig.engine.setManual(c.fan, c.rpm), c.expected) << c.rpm << " skew " << c.skew;
    if (!c.expected.success) continue;
    EXPECT_EQ(rig.machine->get(fan + c.mode), 1);
    EXPECT_FALSE(rig.machine->wrote(fan + (c.mode == "Md" ? "md" : "Md")));
    EXPECT_EQ(rig.engine.setAuto(c.fan),
              (FanEngine::Outcome{true, "fan " + std::to_string(c.fan) + ": auto"}));
    EXPECT_FALSE(rig.machine->wrote("Ftst"));
    EXPECT_FALSE(rig.engine.unlockedByUs());
    EXPECT_TRUE(rig.pauses.empty());
  }
}

// Where the thermal daemon owns the fans, manual control is unlocked once and
// released only when the last manual fan goes back.
TEST(FanEngine, UnlockHeldWhileAnyFanIsManual) {
  Rig rig;
  rig.machine->daemonOwnsFans = true;
  rig.machine->set("Ftst", "ui8 ", 0);
  ASSERT_TRUE(rig.engine.setManual(0, 3000).success);
  ASSERT_TRUE(rig.engine.setManual(1, 3500).success);
  EXPECT_TRUE(rig.engine.unlockedByUs());
  EXPECT_EQ(std::count(rig.pauses.begin(), rig.pauses.end(), 3.0), 1);  // one unlock, one wait

  EXPECT_TRUE(rig.engine.setAuto(0).success);
  EXPECT_EQ(rig.machine->get("Ftst"), 1);
  EXPECT_TRUE(rig.engine.unlockedByUs());
  EXPECT_TRUE(rig.engine.setAuto(1).success);
  EXPECT_EQ(rig.machine->get("Ftst"), 0);
  EXPECT_FALSE(rig.engine.unlockedByUs());
}

TEST(FanEngine, RefusalsWhenManualCannotBeHad) {
  // Without "Ftst", or with one that refuses the unlock.
  for (auto [ftst, expected, pauses] : std::vector<std::tuple<bool, std::string, size_t>>{
           {false, "manual mode refused for fan 0", 3}, {true, "Ftst unlock failed", 3 + 100}}) {
    Rig rig;
    rig.machine->daemonOwnsFans = true;
    rig.machine->refuseUnlock = ftst;
    if (ftst) rig.machine->set("Ftst", "ui8 ", 0);
    EXPECT_EQ(rig.engine.setManual(0, 3000), (FanEngine::Outcome{false, expected}));
    EXPECT_EQ(rig.pauses.size(), pauses) << expected;
    EXPECT_FALSE(rig.engine.unlockedByUs()) << expected;
  }
}

TEST(FanEngine, ResetAllGivesEveryFanAndTheUnlockBack) {
  // An earlier helper left both fans manual and "Ftst" set, then died.
  Rig rig;
  rig.machine->set("Ftst", "ui8 ", 1);
  rig.machine->set("F0Md", "ui8 ", 1);
  rig.machine->set("F1Md", "ui8 ", 1);
  EXPECT_TRUE(rig.engine.resetAll());
  EXPECT_EQ(rig.machine->get("F0Md"), 0);
  EXPECT_EQ(rig.machine->get("F1Md"), 0);
  EXPECT_EQ(rig.machine->get("Ftst"), 0);

  // A fan the controller will not give back makes the reset fail.
  Rig stuck;
  stuck.machine->daemonOwnsFans = true;
  stuck.machine->set("Ftst", "ui8 ", 0);
  stuck.machine->set("F0Md", "ui8 ", 1);
  EXPECT_FALSE(stuck.engine.resetAll());
}

}  // namespace
}  // namespace norvo
