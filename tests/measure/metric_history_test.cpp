#include "core/measure/metric_history.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

SystemMetrics at(int second, double usage = 0.5) {
  SystemMetrics m;
  m.timestamp = Date{} + std::chrono::seconds{1'000'000 + second};
  m.cpu.usage = usage;
  m.memory.usedBytes = m.memory.totalBytes = 0;  // a total of 0 counts as 1: no division by zero
  return m;
}

TEST(MetricHistory, DropsStaleAndOutOfOrderPointsAndKeepsTenMinutes) {
  MetricHistory h;
  EXPECT_EQ(h.span(), 0);
  h.add(at(0), 40.0, std::make_pair(1.0, 2.0));
  h.add(at(0, 0.9), std::nullopt, std::nullopt);  // same date: ignored
  h.add(at(-5), std::nullopt, std::nullopt);      // earlier: ignored
  EXPECT_EQ(h.points(),
            (std::vector<MetricHistory::Point>{{at(0).timestamp, 0.5, 0.0, 40.0, 1.0, 2.0}}));
  h.add(at(300), std::nullopt, std::nullopt);
  h.add(at(600), std::nullopt, std::nullopt);  // exactly the window: the first point stays
  EXPECT_EQ(h.points().size(), 3u);
  EXPECT_DOUBLE_EQ(h.span(), 600);
  h.add(at(601), std::nullopt, std::nullopt);
  ASSERT_EQ(h.points().size(), 3u);
  EXPECT_EQ(h.points().front().date, at(300).timestamp);
  EXPECT_EQ(h.points().back(), (MetricHistory::Point{at(601).timestamp, 0.5, 0.0, {}, 0, 0}));
}

}  // namespace
}  // namespace norvo
