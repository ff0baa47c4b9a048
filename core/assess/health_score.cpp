// The health score: 100 minus the points of every rule that fires.
#include <algorithm>

#include "core/assess/health.hpp"
#include "core/assess/text_format.hpp"

namespace norvo {

namespace {

using text_format::finiteOrZero;
using text_format::percent;
using text_format::rounded;
using text_format::truncated;

constexpr double fourteenDays = 1209600;
constexpr double secondsPerDay = 86400;

}  // namespace

Health Health::assess(const SystemMetrics& metrics, int64_t hung,
                      const std::optional<SensorReport>& sensors,
                      const std::optional<ZombieReport>& zombies,
                      const std::vector<LongCPUProcess>& longCPU) {
  std::vector<Deduction> found;
  auto deduct = [&found](int64_t points, std::string english, std::string russian) {
    found.push_back({points, std::move(english), std::move(russian)});
  };

  const double usage = finiteOrZero(metrics.cpu.usage);
  // Points grow from 0.6 to full usage: 1 point per 2% above 60%, at most 20.
  const int64_t cpuPoints = std::min<int64_t>(20, rounded((usage - 0.6) / 0.4 * 20));
  if (usage > 0.6 && cpuPoints >= 1)
    deduct(cpuPoints, "CPU " + percent(usage), "процессор " + percent(usage));

  const double load = finiteOrZero(metrics.cpu.loadAverage1m);
  const auto cores = std::max<int64_t>(metrics.cpu.logicalCores, 1);
  if (load > 4 * static_cast<double>(cores)) {
    const std::string queue = std::to_string(truncated(load));
    deduct(10, "load average " + queue, "очередь " + queue + " процессов");
  }

  const auto& memory = metrics.memory;
  const double usedShare = static_cast<double>(memory.usedBytes) /
                           static_cast<double>(std::max<uint64_t>(memory.totalBytes, 1));
  if (memory.pressure == "critical")
    deduct(30, "memory pressure critical", "критическая нехватка памяти");
  else if (memory.pressure == "warning")
    deduct(15, "memory pressure warning", "не хватает памяти");
  else if (usedShare > 0.85)
    deduct(5, "memory " + percent(usedShare) + " used", "память занята на " + percent(usedShare));

  const double swap = finiteOrZero(memory.swapOutsPerSecond);
  if (swap > 500)
    deduct(10, "swapping heavily", "активная запись в своп");
  else if (swap > 50)
    deduct(5, "swapping", "запись в своп");

  const double freeGB = text_format::freeGigabytes(metrics);
  if (freeGB < 5)
    deduct(30, "disk almost full", "диск почти заполнен");
  else if (freeGB < 15)
    deduct(20, "disk low", "мало места на диске");
  else if (freeGB < 30) {
    const std::string whole = std::to_string(truncated(freeGB));
    deduct(10, "disk " + whole + " GB free", "на диске " + whole + " ГБ");
  }

  if (metrics.thermalState == "critical")
    deduct(25, "overheating", "перегрев");
  else if (metrics.thermalState == "serious")
    deduct(15, "hot, throttled", "горячий, частота снижена");
  else if (metrics.thermalState == "fair")
    deduct(5, "warm", "тёплый");

  if (hung >= 1) {
    const std::string count = std::to_string(hung);
    // Compared before multiplying so that an absurd count cannot overflow.
    deduct(hung >= 3 ? 15 : 5 * hung, count + " hung processes", "зависших процессов: " + count);
  }

  if (!longCPU.empty()) {
    const std::string count = std::to_string(longCPU.size());
    deduct(longCPU.size() >= 2 ? 10 : 5, "processes busy for minutes: " + count,
           "долго грузят процессор: " + count);
  }

  if (zombies && zombies->count >= 20) {
    const std::string count = std::to_string(zombies->count);
    deduct(5, count + " zombie processes", "процессов-зомби: " + count);
  }

  if (sensors) {
    if (sensors->battery && sensors->battery->healthPercent &&
        *sensors->battery->healthPercent < 80) {
      const std::string health = std::to_string(*sensors->battery->healthPercent);
      deduct(5, "battery health " + health + "%", "батарея изношена: " + health + "%");
    }
    const double uptime = finiteOrZero(sensors->uptimeSeconds);
    if (uptime > fourteenDays) {
      const std::string days = std::to_string(truncated(uptime / secondsPerDay));
      deduct(3, "up " + days + " days, a restart helps", "без перезагрузки " + days + " дн.");
    }
  }

  int64_t total = 0;
  for (const auto& d : found) total += d.points;

  Health health;
  health.score = std::max<int64_t>(0, 100 - total);
  std::stable_sort(found.begin(), found.end(),
                   [](const Deduction& a, const Deduction& b) { return a.points > b.points; });
  health.deductions = std::move(found);
  return health;
}

}  // namespace norvo
