#include "core/assess/health.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using test::GiB;
using test::idleMachine;
using test::withFreeBytes;
using Strings = std::vector<std::string>;

struct Scored {
  int64_t score;
  std::vector<int64_t> points;
  Strings reasons;
  Strings reasonsRu;
};

Scored score(const SystemMetrics& m, int64_t hung = 0,
             const std::optional<SensorReport>& sensors = std::nullopt,
             const std::optional<ZombieReport>& zombies = std::nullopt,
             const std::vector<LongCPUProcess>& longCPU = {}) {
  auto h = Health::assess(m, hung, sensors, zombies, longCPU);
  Scored s{h.score, {}, {}, {}};
  for (const auto& d : h.deductions) {
    s.points.push_back(d.points);
    s.reasons.push_back(d.reason);
    s.reasonsRu.push_back(d.reasonRu);
  }
  return s;
}

// Each row: a change to a perfect machine and the one deduction it causes,
// or none.
struct Row {
  const char* what;
  void (*apply)(SystemMetrics&);
  std::vector<int64_t> points;
  Strings reasons;
  Strings reasonsRu;
};

void expectRows(const std::vector<Row>& rows) {
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto m = idleMachine();
    row.apply(m);
    auto s = score(m);
    EXPECT_EQ(s.points, row.points);
    EXPECT_EQ(s.reasons, row.reasons);
    EXPECT_EQ(s.reasonsRu, row.reasonsRu);
    int64_t sum = 0;
    for (auto p : row.points) sum += p;
    EXPECT_EQ(s.score, 100 - sum);
  }
}

TEST(HealthAssess, PerfectMachine) {
  auto h = Health::assess(idleMachine(), 0, SensorReport{}, ZombieReport{}, {});
  EXPECT_EQ(h.score, 100);
  EXPECT_TRUE(h.deductions.empty());
}

TEST(HealthAssess, MachineRules) {
  using M = SystemMetrics&;
  // clang-format off
  expectRows({
      {"cpu 0.605 rounds to no points", [](M m) { m.cpu.usage = 0.605; }, {}, {}, {}},
      {"cpu 0.62 is one point", [](M m) { m.cpu.usage = 0.62; }, {1}, {"CPU 62%"}, {"процессор 62%"}},
      {"cpu 0.8 is half way", [](M m) { m.cpu.usage = 0.8; }, {10}, {"CPU 80%"}, {"процессор 80%"}},
      {"cpu 0.87 rounds 13.5 up", [](M m) { m.cpu.usage = 0.87; }, {14}, {"CPU 87%"}, {"процессор 87%"}},
      {"cpu beyond full is capped", [](M m) { m.cpu.usage = 1.3; }, {20}, {"CPU 130%"}, {"процессор 130%"}},
      {"cpu nan", [](M m) { m.cpu.usage = std::nan(""); }, {}, {}, {}},
      {"cpu inf", [](M m) { m.cpu.usage = HUGE_VAL; }, {}, {}, {}},

      {"queue 41 on 10 cores", [](M m) { m.cpu.loadAverage1m = 41.7; }, {10}, {"load average 41"},
       {"очередь 41 процессов"}},
      {"queue exactly 4 per core", [](M m) { m.cpu.loadAverage1m = 40; }, {}, {}, {}},
      // Unlike the load judgement, a saturated CPU does not hide the queue.
      {"queue with saturated CPU", [](M m) { m.cpu.usage = 1.0; m.cpu.loadAverage1m = 50; }, {20, 10},
       {"CPU 100%", "load average 50"}, {"процессор 100%", "очередь 50 процессов"}},
      {"queue, unknown cores count as one", [](M m) { m.cpu.logicalCores = 0; m.cpu.loadAverage1m = 4.5; },
       {10}, {"load average 4"}, {"очередь 4 процессов"}},
      {"queue nan", [](M m) { m.cpu.loadAverage1m = std::nan(""); }, {}, {}, {}},

      {"memory critical", [](M m) { m.memory.pressure = "critical"; m.memory.usedBytes = m.memory.totalBytes; },
       {30}, {"memory pressure critical"}, {"критическая нехватка памяти"}},
      {"memory warning", [](M m) { m.memory.pressure = "warning"; m.memory.usedBytes = m.memory.totalBytes; },
       {15}, {"memory pressure warning"}, {"не хватает памяти"}},
      {"memory used share", [](M m) { m.memory.usedBytes = static_cast<uint64_t>(28.3 * GiB); }, {5},
       {"memory 88% used"}, {"память занята на 88%"}},
      {"memory exactly 85%", [](M m) { m.memory.totalBytes = 20 * GiB; m.memory.usedBytes = 17 * GiB; }, {}, {}, {}},
      {"memory no total", [](M m) { m.memory.totalBytes = 0; m.memory.usedBytes = 0; }, {}, {}, {}},

      {"swap 600", [](M m) { m.memory.swapOutsPerSecond = 600; }, {10}, {"swapping heavily"}, {"активная запись в своп"}},
      {"swap exactly 500", [](M m) { m.memory.swapOutsPerSecond = 500; }, {5}, {"swapping"}, {"запись в своп"}},
      {"swap exactly 50", [](M m) { m.memory.swapOutsPerSecond = 50; }, {}, {}, {}},
      {"swap nan", [](M m) { m.memory.swapOutsPerSecond = std::nan(""); }, {}, {}, {}},

      {"disk 3 GB", [](M m) { m = withFreeBytes(m, 3.0 * GiB); }, {30}, {"disk almost full"}, {"диск почти заполнен"}},
      {"disk exactly 5 GB", [](M m) { m = withFreeBytes(m, 5.0 * GiB); }, {20}, {"disk low"}, {"мало места на диске"}},
      {"disk exactly 15 GB", [](M m) { m = withFreeBytes(m, 15.0 * GiB); }, {10}, {"disk 15 GB free"}, {"на диске 15 ГБ"}},
      {"disk 29.9 GB", [](M m) { m = withFreeBytes(m, 29.9 * GiB); }, {10}, {"disk 29 GB free"}, {"на диске 29 ГБ"}},
      {"disk exactly 30 GB", [](M m) { m = withFreeBytes(m, 30.0 * GiB); }, {}, {}, {}},
      {"no volume", [](M m) { m.volumes.clear(); }, {30}, {"disk almost full"}, {"диск почти заполнен"}},

      {"thermal critical", [](M m) { m.thermalState = "critical"; }, {25}, {"overheating"}, {"перегрев"}},
      {"thermal serious", [](M m) { m.thermalState = "serious"; }, {15}, {"hot, throttled"}, {"горячий, частота снижена"}},
      {"thermal fair", [](M m) { m.thermalState = "fair"; }, {5}, {"warm"}, {"тёплый"}},
      {"thermal unknown", [](M m) { m.thermalState = "unknown"; }, {}, {}, {}},
  });
  // clang-format on
}

TEST(HealthAssess, HungAndLongCpuRules) {
  struct Case {
    int64_t hung;
    size_t longCount;
    std::vector<int64_t> points;
    Strings reasons, reasonsRu;
  };
  const std::string most = std::to_string(INT64_MAX);
  // clang-format off
  const Case cases[] = {
      {1, 0, {5}, {"1 hung processes"}, {"зависших процессов: 1"}},
      {3, 0, {15}, {"3 hung processes"}, {"зависших процессов: 3"}},
      {7, 0, {15}, {"7 hung processes"}, {"зависших процессов: 7"}},
      {INT64_MAX, 0, {15}, {most + " hung processes"}, {"зависших процессов: " + most}},
      {-1, 0, {}, {}, {}},
      {0, 1, {5}, {"processes busy for minutes: 1"}, {"долго грузят процессор: 1"}},
      {0, 4, {10}, {"processes busy for minutes: 4"}, {"долго грузят процессор: 4"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hung << " hung, " << c.longCount << " long");
    auto s = score(idleMachine(), c.hung, std::nullopt, std::nullopt,
                   std::vector<LongCPUProcess>(c.longCount));
    EXPECT_EQ(s.points, c.points);
    EXPECT_EQ(s.reasons, c.reasons);
    EXPECT_EQ(s.reasonsRu, c.reasonsRu);
  }
}

TEST(HealthAssess, ZombieRule) {
  auto zombies = [](int64_t count) {
    ZombieReport z;
    z.count = count;
    return z;
  };
  EXPECT_TRUE(score(idleMachine(), 0, std::nullopt, std::nullopt).points.empty());
  EXPECT_TRUE(score(idleMachine(), 0, std::nullopt, zombies(19)).points.empty());
  auto s = score(idleMachine(), 0, std::nullopt, zombies(20));
  EXPECT_EQ(s.points, std::vector<int64_t>{5});
  EXPECT_EQ(s.reasons, Strings{"20 zombie processes"});
  EXPECT_EQ(s.reasonsRu, Strings{"процессов-зомби: 20"});
}

TEST(HealthAssess, BatteryAndUptimeNeedSensors) {
  auto sensors = [](std::optional<int64_t> batteryHealth, double uptime, bool battery = true) {
    SensorReport r;
    r.uptimeSeconds = uptime;
    if (battery) {
      r.battery = SensorReport::Battery{};
      r.battery->healthPercent = batteryHealth;
    }
    return r;
  };
  struct Case {
    const char* what;
    std::optional<SensorReport> report;
    std::vector<int64_t> points;
    Strings reasons;
    Strings reasonsRu;
  };
  const double day = 86400;
  // clang-format off
  const Case cases[] = {
      {"no report", std::nullopt, {}, {}, {}},
      {"health 80", sensors(80, 0), {}, {}, {}},
      {"health 79", sensors(79, 0), {5}, {"battery health 79%"}, {"батарея изношена: 79%"}},
      {"health unknown", sensors(std::nullopt, 0), {}, {}, {}},
      {"no battery", sensors(50, 0, false), {}, {}, {}},
      {"exactly 14 days", sensors(100, 14 * day), {}, {}, {}},
      {"15.5 days", sensors(100, 15.5 * day), {3}, {"up 15 days, a restart helps"}, {"без перезагрузки 15 дн."}},
      {"uptime nan", sensors(100, std::nan("")), {}, {}, {}},
      {"both, battery first", sensors(60, 20 * day), {5, 3}, {"battery health 60%", "up 20 days, a restart helps"},
       {"батарея изношена: 60%", "без перезагрузки 20 дн."}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = score(idleMachine(), 0, c.report);
    EXPECT_EQ(s.points, c.points);
    EXPECT_EQ(s.reasons, c.reasons);
    EXPECT_EQ(s.reasonsRu, c.reasonsRu);
  }
}

TEST(HealthAssess, ScoreAndOrder) {
  auto m = withFreeBytes(idleMachine(), 3.0 * GiB);
  m.memory.pressure = "critical";
  m.thermalState = "critical";
  m.memory.swapOutsPerSecond = 600;
  auto s = score(m);
  EXPECT_EQ(s.score, 5);
  // Equal points keep rule order: memory before disk.
  EXPECT_EQ(s.points, (std::vector<int64_t>{30, 30, 25, 10}));
  EXPECT_EQ(s.reasons, (Strings{"memory pressure critical", "disk almost full", "overheating",
                                "swapping heavily"}));
  EXPECT_EQ(s.reasonsRu, (Strings{"критическая нехватка памяти", "диск почти заполнен", "перегрев",
                                  "активная запись в своп"}));

  // Small deductions of several rules: rule order among the fives.
  auto small = idleMachine();
  small.thermalState = "fair";
  small.memory.swapOutsPerSecond = 60;
  small.cpu.usage = 0.65;  // just over 2.5 points: 3
  s = score(small, 1);
  EXPECT_EQ(s.points, (std::vector<int64_t>{5, 5, 5, 3}));
  EXPECT_EQ(s.reasons, (Strings{"swapping", "warm", "1 hung processes", "CPU 65%"}));
  EXPECT_EQ(s.score, 82);
}

TEST(HealthAssess, ScoreNeverBelowZero) {
  auto m = withFreeBytes(idleMachine(), 0);
  m.cpu.usage = 1;
  m.cpu.loadAverage1m = 100;
  m.memory.pressure = "critical";
  m.memory.swapOutsPerSecond = 1000;
  m.thermalState = "critical";
  ZombieReport z;
  z.count = 500;
  auto h = Health::assess(m, 9, std::nullopt, z, std::vector<LongCPUProcess>(3));
  EXPECT_EQ(h.score, 0);
  int64_t sum = 0;
  for (const auto& d : h.deductions) sum += d.points;
  EXPECT_EQ(sum, 20 + 10 + 30 + 10 + 30 + 25 + 15 + 10 + 5);
  EXPECT_EQ(h.deductions.size(), 9u);
}

}  // namespace
}  // namespace norvo
