#include "core/measure/metric_history.hpp"

#include <algorithm>
#include <chrono>

namespace norvo {

void MetricHistory::add(const SystemMetrics& metrics, std::optional<double> cpuCelsius,
                        std::optional<std::pair<double, double>> network) {
  Point p;
  p.date = metrics.timestamp;
  p.cpu = metrics.cpu.usage;
  p.memory = static_cast<double>(metrics.memory.usedBytes) /
             static_cast<double>(std::max<uint64_t>(metrics.memory.totalBytes, 1));
  p.cpuCelsius = cpuCelsius;
  if (network) {
    p.netIn = network->first;
    p.netOut = network->second;
  }
  if (!points_.empty() && p.date <= points_.back().date) return;
  points_.push_back(p);
  auto cutoff =
      p.date - std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(window));
  auto firstKept = std::find_if(points_.begin(), points_.end(),
                                [&](const Point& q) { return q.date >= cutoff; });
  points_.erase(points_.begin(), firstKept);
}

double MetricHistory::span() const {
  if (points_.empty()) return 0;
  return std::chrono::duration<double>(points_.back().date - points_.front().date).count();
}

}  // namespace norvo
