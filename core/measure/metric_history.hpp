// Ten minutes of small points for charts, kept in memory only.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "core/measure/system_metrics.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {

struct MetricHistory {
  struct Point {
    Date date{};
    double cpu = 0;     // busy fraction
    double memory = 0;  // used / total
    std::optional<double> cpuCelsius;
    double netIn = 0;   // bytes per second
    double netOut = 0;  // bytes per second

    Date id() const { return date; }
    friend bool operator==(const Point&, const Point&) = default;
  };

  static constexpr double window = 600;  // seconds

  // Appends a point for `metrics` unless it is not later than the last point,
  // then drops points older than the window before the newest.
  void add(const SystemMetrics& metrics, std::optional<double> cpuCelsius,
           std::optional<std::pair<double, double>> network);

  const std::vector<Point>& points() const { return points_; }

  // Seconds from the first to the last point; 0 when empty.
  double span() const;

 private:
  std::vector<Point> points_;
};

}  // namespace norvo
