#include "core/platform/fan_transport.hpp"

#include <gtest/gtest.h>

#include "core/fans/fan_engine.hpp"
#include "fans/fan_tree.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using test::FanTree;

TEST(FanTransport, ListsEveryFanBeneathTheRoot) {
  FanTree tree;
  SMC smc(platform::fan_transport::open(tree.roots()));
  auto fans = FanInfo::read(smc);
  ASSERT_EQ(fans.size(), 4u);  // the fan outside the tree is not one
  EXPECT_EQ(fans[0], (FanInfo{0, 1998, 1200, 6000, 2000, false}));
  EXPECT_EQ(fans[1], (FanInfo{1, 2101, 1300, 5800, 2100, false}));
  // The PWM fan has no range and, until this process sets one, target 0.
  EXPECT_EQ(fans[2], (FanInfo{2, 900, 0, 0, 0, false}));
  EXPECT_EQ(fans[3], (FanInfo{3, 640, 0, 0, std::nullopt, false}));
  EXPECT_FALSE(smc.read("Ftst"));
}

TEST(FanTransport, EngineSteersPwmFans) {
  FanTree tree;
  auto transport = platform::fan_transport::open(tree.roots());
  auto* steering = transport.get();
  SMC smc(std::move(transport));
  FanEngine engine(smc);
  engine.pause = [](double) {};

  // Without a maximum the first duty is a step up from where the chip had it.
  EXPECT_EQ(engine.setManual(2, 1800),
            (FanEngine::Outcome{true, "fan 2 manual 1800 rpm (asked 1800): 1800 rpm"}));
  EXPECT_EQ(tree.read(tree.nct / "pwm1_enable"), "1");
  EXPECT_EQ(tree.read(tree.nct / "pwm1"), "152");
  steering->steer();  // still at 900 rpm: another step
  EXPECT_EQ(tree.read(tree.nct / "pwm1"), "184");
  tree.dir.write(tree.nct / "fan1_input", "1800\n");
  steering->steer();  // there: the duty stays
  EXPECT_EQ(tree.read(tree.nct / "pwm1"), "184");
  // Renewed: what steering found stays, though a maximum would now give
  // another first guess.
  tree.dir.write(tree.nct / "fan1_max", "3600\n");
  EXPECT_TRUE(engine.setManual(2, 1800).success);
  EXPECT_EQ(tree.read(tree.nct / "pwm1"), "184");

  EXPECT_EQ(engine.setManual(3, 1000),
            (FanEngine::Outcome{false, "manual mode refused for fan 3"}));

  // A transport that did not take the fan (a helper that died with it manual)
  // gives it to the interface's generic automatic mode.
  tree.dir.write(tree.nct / "pwm1_enable", "1\n");
  SMC fresh(platform::fan_transport::open(tree.roots()));
  FanEngine restarted(fresh);
  EXPECT_TRUE(restarted.resetAll());
  EXPECT_EQ(tree.read(tree.nct / "pwm1_enable"), "2");
}

TEST(FanTransport, NeverWritesThroughALink) {
  FanTree tree;
  SMC smc(platform::fan_transport::open(tree.roots()));
  FanEngine engine(smc);
  engine.pause = [](double) {};
  auto victim = tree.dir.write("victim", "keep\n");
  fs::remove(tree.applesmc / "fan1_manual");
  fs::create_symlink(victim, tree.applesmc / "fan1_manual");
  EXPECT_FALSE(engine.setManual(0, 3000).success);
  EXPECT_EQ(test::readFile(victim), "keep\n");
}

TEST(FanTransport, NextDutyStepsTowardsTheTarget) {
  // Duty, speed, target and maximum, and the next duty. A bounded step up: the
  // engine's steering above.
  using Case = std::tuple<int, double, double, double, int>;
  for (auto [duty, rpm, target, max, expected] :
       std::vector<Case>{{100, 2000, 1000, 0, 68},      // bounded step down
                         {100, 1000, 1100, 0, 110},     // in proportion
                         {200, 2000, 6000, 6000, 255},  // the maximum: full duty
                         {0, 0, 1000, 0, 32},           // stalled: push
                         {50, 800, 0, 0, 18},           // asked to stop
                         {250, 3000, 5000, 0, 255}})    // never past 255
    EXPECT_EQ(platform::fan_transport::nextDuty(duty, rpm, target, max), expected)
        << duty << " at " << rpm << " for " << target;
}

}  // namespace
}  // namespace norvo
