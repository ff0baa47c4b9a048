#include "core/assess/norvo_snapshot.hpp"

#include <gtest/gtest.h>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using test::sample;
using C = ProcessCategory;

TEST(ProcessSampleKillable, OnlyOwnOrOrphanedAgentTasks) {
  struct Case {
    C category;
    std::optional<int32_t> agent, by;
    bool orphaned, killable;
  };
  const std::optional<int32_t> none;
  const Case cases[] = {
      {C::aiTask, 7, 7, false, true},      {C::aiTask, 7, 8, false, false},
      {C::aiTask, 7, none, false, false},  {C::aiTask, none, 7, false, false},
      {C::aiTask, none, none, true, true}, {C::aiTask, 7, 8, true, true},
      {C::aiAgent, 7, 7, true, false},     {C::aiInfra, 7, 7, true, false},
      {C::userApp, 7, 7, true, false},     {C::system, 7, 7, true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sample(42, "p", c.category, c.agent, c.orphaned).killable(c.by), c.killable)
        << rawValue(c.category) << " agent " << c.agent.value_or(-1) << " by " << c.by.value_or(-1)
        << (c.orphaned ? " orphaned" : "");
}

}  // namespace
}  // namespace norvo
