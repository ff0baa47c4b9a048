#include "core/assess/health.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using test::GiB;
using test::idleMachine;
using test::withFreeBytes;
using D = std::vector<Health::Deduction>;

struct In {
  SystemMetrics m = idleMachine();
  int64_t hung = 0;
  std::optional<SensorReport> sensors;
  std::optional<ZombieReport> zombies;
  std::vector<LongCPUProcess> longCPU;
  Health assess() const { return Health::assess(m, hung, sensors, zombies, longCPU); }
};

SensorReport sensors(std::optional<int64_t> batteryHealth, double uptimeDays) {
  SensorReport r;
  r.uptimeSeconds = uptimeDays * 86400;
  r.battery = SensorReport::Battery{};
  r.battery->healthPercent = batteryHealth;
  return r;
}

// Each row: a change to a perfect machine and the deductions it causes.
TEST(HealthAssess, EachRuleAtItsThresholds) {
  struct Row {
    const char* what;
    std::function<void(In&)> apply;
    D deductions;
  };
  // clang-format off
  const Row rows[] = {
      {"perfect", [](In& i) { i.sensors = SensorReport{}; i.zombies = ZombieReport{}; }, {}},
      {"cpu 0.605 rounds to no points", [](In& i) { i.m.cpu.usage = 0.605; }, {}},
      {"cpu 0.87 rounds 13.5 up", [](In& i) { i.m.cpu.usage = 0.87; }, {{14, "CPU 87%", "процессор 87%"}}},
      {"cpu beyond full is capped", [](In& i) { i.m.cpu.usage = 1.3; }, {{20, "CPU 130%", "процессор 130%"}}},
      {"cpu inf", [](In& i) { i.m.cpu.usage = HUGE_VAL; }, {}},
      {"queue 41 on 10 cores", [](In& i) { i.m.cpu.loadAverage1m = 41.7; }, {{10, "load average 41", "очередь 41 процессов"}}},
      {"queue exactly 4 per core", [](In& i) { i.m.cpu.loadAverage1m = 40; }, {}},
      // Unlike the load judgement, a saturated CPU does not hide the queue.
      {"queue with saturated CPU", [](In& i) { i.m.cpu.usage = 1.0; i.m.cpu.loadAverage1m = 50; },
       {{20, "CPU 100%", "процессор 100%"}, {10, "load average 50", "очередь 50 процессов"}}},
      {"queue, unknown cores count as one", [](In& i) { i.m.cpu.logicalCores = 0; i.m.cpu.loadAverage1m = 4.5; },
       {{10, "load average 4", "очередь 4 процессов"}}},
      {"queue nan", [](In& i) { i.m.cpu.loadAverage1m = std::nan(""); }, {}},
      {"memory critical", [](In& i) { i.m.memory.pressure = "critical"; i.m.memory.usedBytes = i.m.memory.totalBytes; },
       {{30, "memory pressure critical", "критическая нехватка памяти"}}},
      {"memory used share", [](In& i) { i.m.memory.usedBytes = uint64_t(28.3 * GiB); }, {{5, "memory 88% used", "память занята на 88%"}}},
      {"memory exactly 85%", [](In& i) { i.m.memory.totalBytes = 20 * GiB; i.m.memory.usedBytes = 17 * GiB; }, {}},
      {"memory no total", [](In& i) { i.m.memory.totalBytes = 0; i.m.memory.usedBytes = 0; }, {}},
      {"swap 600", [](In& i) { i.m.memory.swapOutsPerSecond = 600; }, {{10, "swapping heavily", "активная запись в своп"}}},
      {"swap exactly 500", [](In& i) { i.m.memory.swapOutsPerSecond = 500; }, {{5, "swapping", "запись в своп"}}},
      {"swap exactly 50", [](In& i) { i.m.memory.swapOutsPerSecond = 50; }, {}},
      {"disk exactly 5 GB", [](In& i) { i.m = withFreeBytes(i.m, 5.0 * GiB); }, {{20, "disk low", "мало места на диске"}}},
      {"disk exactly 15 GB", [](In& i) { i.m = withFreeBytes(i.m, 15.0 * GiB); }, {{10, "disk 15 GB free", "на диске 15 ГБ"}}},
      {"disk 29.9 GB is cut", [](In& i) { i.m = withFreeBytes(i.m, 29.9 * GiB); }, {{10, "disk 29 GB free", "на диске 29 ГБ"}}},
      {"disk exactly 30 GB", [](In& i) { i.m = withFreeBytes(i.m, 30.0 * GiB); }, {}},
      {"no volume", [](In& i) { i.m.volumes.clear(); }, {{30, "disk almost full", "диск почти заполнен"}}},
      {"thermal critical", [](In& i) { i.m.thermalState = "critical"; }, {{25, "overheating", "перегрев"}}},
      {"thermal fair", [](In& i) { i.m.thermalState = "fair"; }, {{5, "warm", "тёплый"}}},
      {"1 hung", [](In& i) { i.hung = 1; }, {{5, "1 hung processes", "зависших процессов: 1"}}},
      {"3 hung", [](In& i) { i.hung = 3; }, {{15, "3 hung processes", "зависших процессов: 3"}}},
      {"most hung, capped", [](In& i) { i.hung = INT64_MAX; },
       {{15, std::to_string(INT64_MAX) + " hung processes", "зависших процессов: " + std::to_string(INT64_MAX)}}},
      {"negative hung", [](In& i) { i.hung = -1; }, {}},
      {"1 long", [](In& i) { i.longCPU.resize(1); }, {{5, "processes busy for minutes: 1", "долго грузят процессор: 1"}}},
      {"4 long", [](In& i) { i.longCPU.resize(4); }, {{10, "processes busy for minutes: 4", "долго грузят процессор: 4"}}},
      {"19 zombies", [](In& i) { i.zombies = ZombieReport{19, {}}; }, {}},
      {"20 zombies", [](In& i) { i.zombies = ZombieReport{20, {}}; }, {{5, "20 zombie processes", "процессов-зомби: 20"}}},
      {"battery 80", [](In& i) { i.sensors = sensors(80, 0); }, {}},
      {"exactly 14 days up", [](In& i) { i.sensors = sensors(100, 14); }, {}},
      {"uptime nan", [](In& i) { i.sensors = sensors(100, std::nan("")); }, {}},
      {"no battery", [](In& i) { i.sensors = sensors(50, 0); i.sensors->battery.reset(); }, {}},
      {"battery 79 then 15.5 days up", [](In& i) { i.sensors = sensors(79, 15.5); },
       {{5, "battery health 79%", "батарея изношена: 79%"}, {3, "up 15 days, a restart helps", "без перезагрузки 15 дн."}}},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    In in;
    row.apply(in);
    auto h = in.assess();
    EXPECT_EQ(h.deductions, row.deductions);
    int64_t sum = 0;
    for (const auto& d : row.deductions) sum += d.points;
    EXPECT_EQ(h.score, 100 - sum);
  }
}

TEST(HealthAssess, LargestFirstTiesInRuleOrderAndNeverBelowZero) {
  auto m = withFreeBytes(idleMachine(), 3.0 * GiB);
  m.memory.pressure = "critical";
  m.thermalState = "critical";
  m.memory.swapOutsPerSecond = 600;
  auto h = Health::assess(m, 0, std::nullopt, std::nullopt, {});
  EXPECT_EQ(h.score, 5);
  // Equal points keep rule order: memory before disk.
  std::vector<std::string> reasons;
  for (const auto& d : h.deductions) reasons.push_back(d.reason);
  EXPECT_EQ(reasons, (std::vector<std::string>{"memory pressure critical", "disk almost full",
                                               "overheating", "swapping heavily"}));

  m.cpu.usage = 1;
  m.cpu.loadAverage1m = 100;
  h = Health::assess(m, 9, std::nullopt, ZombieReport{500, {}}, std::vector<LongCPUProcess>(3));
  EXPECT_EQ(h.score, 0);
  EXPECT_EQ(h.deductions.size(), 9u);
}

}  // namespace
}  // namespace norvo
