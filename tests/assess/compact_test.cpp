#include "core/assess/compact.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <regex>
#include <set>

namespace norvo {
namespace {

using nlohmann::json;
constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t MiB = 1ull << 20;

ProcessSample sample(int32_t pid, std::string name, ProcessCategory category,
                     std::optional<int32_t> agentPid = std::nullopt, bool orphaned = false) {
  ProcessSample s;
  s.pid = pid;
  s.ppid = 1;
  s.name = std::move(name);
  s.category = category;
  s.agentPid = agentPid;
  s.orphaned = orphaned;
  return s;
}

LongCPUProcess longRunner(int32_t pid, std::string name, ProcessCategory category,
                          std::optional<int32_t> agentPid, bool orphaned, double cpu,
                          int64_t minutes) {
  LongCPUProcess p;
  p.pid = pid;
  p.name = std::move(name);
  p.category = category;
  p.agentPid = agentPid;
  p.orphaned = orphaned;
  p.averageCPU = cpu;
  p.minutes = minutes;
  return p;
}

// The idle machine of the product's own example line.
NorvoSnapshot idle() {
  NorvoSnapshot s;
  s.metrics.timestamp = std::chrono::sys_days{std::chrono::year{2026} / 3 / 14} +
                        std::chrono::hours{9} + std::chrono::minutes{26} + std::chrono::seconds{53};
  s.metrics.cpu = {0.05, 10, 8, 2, 1.234, 2.0, 9.5};
  s.metrics.memory.totalBytes = 16 * GiB;
  s.metrics.memory.usedBytes = 8 * GiB;
  s.metrics.memory.availableBytes = 8 * GiB;
  s.metrics.memory.cachedBytes = 3 * GiB + 123456789;
  s.metrics.memory.compressedBytes = GiB / 3;
  s.metrics.memory.swapUsedBytes = 0;
  s.metrics.memory.swapOutsPerSecond = 1.0 / 3;
  s.metrics.volumes = {{"/", "Macintosh HD", int64_t(500 * GiB), int64_t(200 * GiB + GiB / 2)}};
  s.metrics.thermalState = "nominal";
  s.assessment.level = LoadLevel::ok;
  s.assessment.reasons = {"Load is normal"};
  s.assessment.reasonsRu = {"Нагрузка в норме"};
  s.assessment.recommendedParallelJobs = 4;
  s.assessment.recommendedBuildThreads = 10;
  s.assessment.advice = {"Go ahead."};
  s.health = Health{100, {}};
  SensorReport sensors;
  sensors.cpuCelsius = 41.7;
  s.sensors = sensors;
  s.longCPU = std::vector<LongCPUProcess>{};
  return s;
}

Compact::FreeChangeLookup noHistory() { return {}; }

// Every float in the encoded text has at most one decimal (or is in exponent
// form for magnitudes that "%.1f" cannot shorten).
void expectAtMostOneDecimal(const json& value, const std::string& where = "") {
  static const std::regex oneDecimal(R"(-?\d+(\.\d)?|-?\d(\.\d+)?e[+-]\d+)");
  if (value.is_number_float()) {
    auto text = value.dump();
    EXPECT_TRUE(std::regex_match(text, oneDecimal)) << where << " = " << text;
  } else if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it)
      expectAtMostOneDecimal(it.value(), where + "." + it.key());
  } else if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i)
      expectAtMostOneDecimal(value[i], where + "[" + std::to_string(i) + "]");
  }
}

std::set<std::string> keys(const json& object) {
  std::set<std::string> out;
  for (auto it = object.begin(); it != object.end(); ++it) out.insert(it.key());
  return out;
}

TEST(CompactOneDecimal, EncodesAsPrintfOneDecimal) {
  struct Case {
    double value;
    const char* encoded;
  };
  const Case cases[] = {
      {12.3, "12.3"},
      {12.34, "12.3"},
      {12.36, "12.4"},
      {0.1 + 0.2, "0.3"},  // 0.30000000000000004 must not leak through
      {200.0, "200.0"},
      {1.0 / 3, "0.3"},
      {0.25, "0.2"},  // "%.1f" rounds the exact binary tie to even
      {0.35, "0.3"},  // 0.35 is stored just below .35
      {-2.46, "-2.5"},
      {-0.04, "0.0"},  // never "-0.0"
      {123456789.87, "123456789.9"},
  };
  for (const auto& c : cases) EXPECT_EQ(Compact::oneDecimal(c.value).dump(), c.encoded) << c.value;

  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()})
    EXPECT_TRUE(Compact::oneDecimal(bad).is_null());
  // Too large for one decimal to matter, but still a valid JSON number.
  EXPECT_TRUE(json::parse(Compact::oneDecimal(1e300).dump()).is_number());
}

TEST(CompactOneDecimal, GigabytesAreBinary) {
  EXPECT_EQ(Compact::gbValue(1.5 * GiB).dump(), "1.5");
  EXPECT_EQ(Compact::gbValue(13207024435.0).dump(), "12.3");  // 12.29999… GiB
  EXPECT_EQ(Compact::gbValue(1e9).dump(), "0.9");             // a decimal GB is 0.93 GiB
  EXPECT_EQ(Compact::gbValue(-2.5 * GiB).dump(), "-2.5");
  EXPECT_EQ(Compact::gbValue(0).dump(), "0.0");
}

TEST(CompactStatus, KeysAndTypes) {
  auto snap = idle();
  snap.zombies = ZombieReport{3, {{77, "make", 3}}};
  snap.health = Health{85, {{15, "Swap is heavily used", "Своп"}}};
  snap.longCPU = std::vector<LongCPUProcess>{
      longRunner(500, "cc1plus", ProcessCategory::aiTask, 9, false, 97.6, 12)};
  snap.processes = {sample(10, "Xcode", ProcessCategory::userApp)};
  snap.aiTasks = {sample(500, "cc1plus", ProcessCategory::aiTask, 9)};
  snap.assessment.hungProcesses = {"mds"};
  AppGroup group;
  group.name = "Slack";
  snap.assessment.quitCandidates = {group};

  auto status = Compact::status(snap, 5, 9, noHistory());
  // clang-format off
  EXPECT_EQ(keys(status), (std::set<std::string>{
      "time", "level", "reasons", "recommended_parallel_jobs", "recommended_build_threads",
      "advice", "cpu", "memory", "disks", "thermal", "hung_processes", "low_power_mode", "sensors",
      "health", "zombies", "long_cpu", "top_processes", "ai_tasks", "your_agent_pid",
      "owner_apps_quit_candidates"}));
  // clang-format on

  EXPECT_EQ(status["time"], "2026-03-14T09:26:53Z");
  EXPECT_EQ(status["level"], "ok");
  EXPECT_EQ(status["reasons"], json({"Load is normal"}));
  EXPECT_EQ(status["recommended_parallel_jobs"], 4);
  EXPECT_EQ(status["recommended_build_threads"], 10);
  EXPECT_TRUE(status["advice"].is_array());
  EXPECT_EQ(status["thermal"], "nominal");
  EXPECT_EQ(status["hung_processes"], json({"mds"}));
  EXPECT_EQ(status["low_power_mode"], false);
  EXPECT_EQ(status["your_agent_pid"], 9);

  EXPECT_EQ(status["cpu"], json({{"usage_percent", 5},
                                 {"free_cores", 9.5},
                                 {"cores", 10},
                                 {"performance_cores", 8},
                                 {"load_1m", 1.2},
                                 {"load_5m", 2.0}}));
  EXPECT_TRUE(status["cpu"]["usage_percent"].is_number_integer());
  EXPECT_EQ(status["memory"], json({{"total_gb", 16.0},
                                    {"used_gb", 8.0},
                                    {"available_gb", 8.0},
                                    {"cached_gb", 3.1},
                                    {"compressed_gb", 0.3},
                                    {"pressure", "normal"},
                                    {"swap_used_gb", 0.0},
                                    {"swapouts_per_s", 0.3}}));

  ASSERT_EQ(status["disks"].size(), 1u);
  EXPECT_EQ(
      status["disks"][0],
      json({{"path", "/"}, {"name", "Macintosh HD"}, {"free_gb", 200.5}, {"total_gb", 500.0}}));

  EXPECT_EQ(status["health"],
            json({{"score", 85},
                  {"deductions", {{{"reason", "Swap is heavily used"}, {"points", 15}}}}}));
  EXPECT_EQ(status["zombies"],
            json({{"count", 3}, {"parents", {{{"pid", 77}, {"name", "make"}, {"count", 3}}}}}));
  ASSERT_EQ(status["long_cpu"].size(), 1u);
  EXPECT_EQ(status["long_cpu"][0]["session"], "yours");
  EXPECT_EQ(status["owner_apps_quit_candidates"][0]["name"], "Slack");
}

TEST(CompactStatus, AwkwardFiguresEncodeWithOneDecimal) {
  auto snap = idle();
  snap.metrics.cpu = {0.123456, 7, 7, 0, 2.0 / 3, 0.1 + 0.2, 6.1358};
  snap.metrics.memory.usedBytes = 7 * GiB + 12345;
  snap.metrics.memory.swapUsedBytes = GiB / 7;
  snap.metrics.memory.swapOutsPerSecond = 1e-9;
  snap.metrics.volumes.push_back({"/data", "data", 987654321987, 12345678901});
  auto& sensors = *snap.sensors;
  sensors.uptimeSeconds = 123456.789;
  sensors.networkInBytesPerSec = 1234567.891;
  sensors.diskWriteBytesPerSec = 0.3;
  sensors.systemWatts = 7.77777;
  sensors.fans = {FanInfo{0, 1843.2345, 1200.1, 5000.99, std::nullopt, false}};
  NetworkConnection wifi;
  wifi.bsdName = "wlan0";
  wifi.inBytesPerSec = 333333.3333;
  sensors.connections = std::vector<NetworkConnection>{wifi};
  auto task = sample(5, "rustc", ProcessCategory::aiTask, 3);
  task.cpuPercent = 33.33333;
  snap.processes = {task};
  snap.longCPU = std::vector<LongCPUProcess>{
      longRunner(5, "rustc", ProcessCategory::aiTask, 3, false, 88.888, 4)};

  auto status = Compact::status(snap, 3, std::nullopt, noHistory());
  expectAtMostOneDecimal(status);
  EXPECT_EQ(status["cpu"]["usage_percent"], 12);
  EXPECT_EQ(status["memory"]["swapouts_per_s"].dump(), "0.0");
}

TEST(CompactStatus, OptionalBlocksAndProcessLimit) {
  auto snap = idle();
  snap.sensors.reset();
  snap.health.reset();
  snap.zombies.reset();
  snap.processes = {sample(1, "a", ProcessCategory::userApp),
                    sample(2, "b", ProcessCategory::system),
                    sample(3, "c", ProcessCategory::userApp)};
  snap.aiTasks = {sample(4, "d", ProcessCategory::aiTask, 9)};

  for (auto longCPU : {std::optional<std::vector<LongCPUProcess>>{},
                       std::optional<std::vector<LongCPUProcess>>{std::vector<LongCPUProcess>{}}}) {
    snap.longCPU = longCPU;
    auto status = Compact::status(snap, 2, std::nullopt, noHistory());
    for (const char* key : {"sensors", "health", "zombies", "long_cpu", "your_agent_pid"})
      EXPECT_FALSE(status.contains(key)) << key;
    ASSERT_EQ(status["top_processes"].size(), 2u);
    EXPECT_EQ(status["top_processes"][1]["pid"], 2);
    EXPECT_EQ(status["ai_tasks"].size(), 1u);
    EXPECT_EQ(status["owner_apps_quit_candidates"], json::array());
  }

  for (int64_t limit : {0, -1}) {
    auto status = Compact::status(snap, limit, 9, noHistory());
    for (const char* key :
         {"top_processes", "ai_tasks", "your_agent_pid", "owner_apps_quit_candidates"})
      EXPECT_FALSE(status.contains(key)) << key << " at limit " << limit;
    EXPECT_TRUE(status.contains("advice"));
  }

  snap.processes.clear();
  snap.aiTasks.clear();
  auto empty = Compact::status(snap, 5, std::nullopt, noHistory());
  EXPECT_EQ(empty["top_processes"], json::array());
  EXPECT_EQ(empty["ai_tasks"], json::array());
}

TEST(CompactStatus, LowDiskBlock) {
  auto snap = idle();
  const std::string next =
      "Tell the owner the disk is filling up. Call disk_usage: grew_recently says what took the "
      "space lately and advice what can safely go; then suggest_cleanup / suggest_uninstall. "
      "Never delete files yourself.";
  // A data volume listed first: the boot volume is still the one at "/".
  snap.metrics.volumes = {{"/data", "data", int64_t(900 * GiB), int64_t(1 * GiB)},
                          {"/", "root", int64_t(250 * GiB), int64_t(29.9 * GiB)}};

  std::string askedPath;
  double askedDays = 0;
  int64_t askedFree = 0;
  Compact::FreeChangeLookup lookup = [&](const std::string& path, double days, int64_t free,
                                         Date) -> std::optional<Compact::FreeChange> {
    askedPath = path;
    askedDays = days;
    askedFree = free;
    return Compact::FreeChange{-int64_t(5 * GiB / 2), parseIso8601("2026-03-07T08:00:00Z").value()};
  };

  auto low = Compact::status(snap, 0, std::nullopt, lookup);
  ASSERT_TRUE(low.contains("disk_low"));
  EXPECT_EQ(low["disk_low"], json({{"free_gb", 29.9},
                                   {"total_gb", 250.0},
                                   {"next", next},
                                   {"free_change_gb", -2.5},
                                   {"free_change_since", "2026-03-07T08:00:00Z"}}));
  EXPECT_EQ(askedPath, "/");
  EXPECT_EQ(askedDays, 7);
  EXPECT_EQ(askedFree, int64_t(29.9 * GiB));

  auto withoutHistory = Compact::status(
      snap, 0, std::nullopt, [](auto&&...) { return std::optional<Compact::FreeChange>{}; });
  EXPECT_EQ(keys(withoutHistory["disk_low"]),
            (std::set<std::string>{"free_gb", "total_gb", "next"}));

  snap.metrics.volumes[1].freeBytes = int64_t(30 * GiB);
  EXPECT_FALSE(Compact::status(snap, 0, std::nullopt, lookup).contains("disk_low"));
  snap.metrics.volumes.clear();
  EXPECT_FALSE(Compact::status(snap, 0, std::nullopt, lookup).contains("disk_low"));
}

TEST(CompactProcess, KeysSessionAndKillability) {
  struct Case {
    std::optional<int32_t> agentPid;
    bool orphaned;
    std::optional<int32_t> me;
    const char* session;  // nullptr: no "session" key
    bool killable;
  };
  const Case cases[] = {
      {9, false, 9, "yours", true},
      {9, false, 8, "other", false},
      {9, false, std::nullopt, "other", false},
      {9, true, 8, "orphaned", true},
      {9, true, 9, "orphaned", true},
      {std::nullopt, false, 9, nullptr, false},
  };
  for (const auto& c : cases) {
    auto s = sample(321, "cargo", ProcessCategory::aiTask, c.agentPid, c.orphaned);
    auto p = Compact::process(s, c.me);
    std::string label = "agent " + (c.agentPid ? std::to_string(*c.agentPid) : "-") + " me " +
                        (c.me ? std::to_string(*c.me) : "-") + (c.orphaned ? " orphaned" : "");
    if (c.session) {
      EXPECT_EQ(p["session"], c.session) << label;
      EXPECT_EQ(p["agent_pid"], *c.agentPid) << label;
    } else {
      EXPECT_FALSE(p.contains("session")) << label;
      EXPECT_FALSE(p.contains("agent_pid")) << label;
    }
    EXPECT_EQ(p["killable_by_ai"], c.killable) << label;
  }

  auto app = sample(44, "Slack Helper", ProcessCategory::userApp, 9);
  app.appName = "Slack";
  app.cpuPercent = 12.345;
  app.memoryBytes = 300 * MiB + MiB - 1;
  app.arguments = "/Applications/Slack.app/Contents/MacOS/Slack Helper --type=renderer";
  auto p = Compact::process(app, 9);
  // Only agent tasks may be stopped by agents.
  EXPECT_EQ(p, json({{"pid", 44},
                     {"name", "Slack Helper"},
                     {"cpu_percent", 12.3},
                     {"memory_mb", 300},
                     {"category", "user_app"},
                     {"killable_by_ai", false},
                     {"app", "Slack"},
                     {"agent_pid", 9},
                     {"session", "yours"},
                     {"command", app.arguments}}));
  EXPECT_TRUE(p["memory_mb"].is_number_integer());
}

TEST(CompactProcess, CommandIsCutAt160Characters) {
  auto s = sample(1, "node", ProcessCategory::aiTask);
  s.arguments = std::string(200, 'x');
  EXPECT_EQ(Compact::process(s, std::nullopt)["command"], std::string(160, 'x') + "…");
  s.arguments = std::string(160, 'y');
  EXPECT_EQ(Compact::process(s, std::nullopt)["command"], s.arguments);
  // Characters, not bytes: 170 Cyrillic letters (two bytes each) keep 160 whole letters.
  std::string cyrillic;
  for (int i = 0; i < 170; ++i) cyrillic += "ж";
  s.arguments = cyrillic;
  auto command = Compact::process(s, std::nullopt)["command"].get<std::string>();
  EXPECT_EQ(command, cyrillic.substr(0, 320) + "…");
  EXPECT_EQ(Compact::process(sample(2, "x", ProcessCategory::system), std::nullopt)["command"], "");
}

TEST(CompactLongCPUAndApp, Keys) {
  auto p = longRunner(70, "swift-frontend", ProcessCategory::aiTask, 9, false, 99.96, 14);
  p.appName = "Xcode";
  auto mine = Compact::longCPU(p, 9);
  EXPECT_EQ(mine, json({{"pid", 70},
                        {"name", "swift-frontend"},
                        {"category", "ai_task"},
                        {"average_cpu_percent", 100.0},
                        {"minutes", 14},
                        {"app", "Xcode"},
                        {"orphaned", false},
                        {"session", "yours"}}));
  EXPECT_EQ(Compact::longCPU(p, std::nullopt)["session"], "other");
  auto plain = longRunner(71, "mds", ProcessCategory::system, std::nullopt, false, 50, 3);
  EXPECT_EQ(keys(Compact::longCPU(plain, 9)),
            (std::set<std::string>{"pid", "name", "category", "average_cpu_percent", "minutes",
                                   "orphaned"}));

  AppGroup group;
  group.name = "Docker";
  group.bundlePath = "/opt/docker";
  group.mainPid = 400;
  group.processCount = 6;
  group.cpuPercent = 45.06;
  group.memoryBytes = 2 * GiB;
  group.category = ProcessCategory::userApp;
  EXPECT_EQ(Compact::app(group), json({{"name", "Docker"},
                                       {"cpu_percent", 45.1},
                                       {"memory_mb", 2048},
                                       {"processes", 6},
                                       {"main_pid", 400},
                                       {"category", "user_app"}}));
  group.bundleID = "com.docker.docker";
  group.category = ProcessCategory::aiAgent;
  auto withId = Compact::app(group);
  EXPECT_EQ(withId["bundle_id"], "com.docker.docker");
  EXPECT_EQ(withId["category"], "ai_agent");
}

TEST(CompactLongCPUAndApp, ActionLogEntry) {
  NorvoStore::Action a{parseIso8601("2026-03-14T10:00:00Z").value(),
                       "ai",
                       "kill",
                       4242,
                       "cargo",
                       "SIGTERM, exited after 1.2 s"};
  EXPECT_EQ(Compact::action(a), json({{"name", "cargo"},
                                      {"actor", "ai"},
                                      {"kind", "kill"},
                                      {"pid", 4242},
                                      {"detail", "SIGTERM, exited after 1.2 s"}}));
}

TEST(CompactAdvice, LongRunningProcessesSplitByOwner) {
  auto snap = idle();
  snap.longCPU = std::vector<LongCPUProcess>{
      longRunner(11, "cc1plus", ProcessCategory::aiTask, 9, false, 99.9, 12),
      longRunner(12, "node", ProcessCategory::aiTask, 5, true, 50.5, 7),
      longRunner(13, "ld", ProcessCategory::aiTask, 5, false, 80, 3),
      longRunner(14, "mds_stores", ProcessCategory::system, std::nullopt, false, 100, 30),
      // Even with this agent's pid, infrastructure is not the agent's to stop.
      longRunner(15, "mcp-server", ProcessCategory::aiInfra, 9, false, 60.2, 5),
  };
  EXPECT_EQ(Compact::advice(snap, 9),
            (std::vector<std::string>{
                "Go ahead.",
                "Your AI processes have kept a core busy for minutes: cc1plus pid 11 (99% for 12 "
                "min), node pid 12 (50% for 7 min). If one is stuck or no longer needed, stop it "
                "(kill_ai_process).",
                "Busy for minutes (not yours to stop): ld pid 13 (80% for 3 min), mds_stores pid "
                "14 (100% for 30 min), mcp-server pid 15 (60% for 5 min). If it slows your work, "
                "tell the owner."}));

  // Without knowing the agent only orphans count as its own.
  auto unknown = Compact::advice(snap, std::nullopt);
  ASSERT_EQ(unknown.size(), 3u);
  EXPECT_EQ(unknown[1],
            "Your AI processes have kept a core busy for minutes: node pid 12 (50% for 7 min). If "
            "one is stuck or no longer needed, stop it (kill_ai_process).");

  snap.longCPU.reset();
  EXPECT_EQ(Compact::advice(snap, 9), std::vector<std::string>{"Go ahead."});
}

TEST(CompactAdvice, HeavyAITasksOnlyWhenBusy) {
  auto snap = idle();
  auto heavy = [](int32_t pid, const char* name, std::optional<int32_t> agent, bool orphaned,
                  double cpu, uint64_t memory) {
    auto s = sample(pid, name, ProcessCategory::aiTask, agent, orphaned);
    s.cpuPercent = cpu;
    s.memoryBytes = memory;
    return s;
  };
  snap.assessment.heavyAITasks = {heavy(21, "rustc", 9, false, 180.7, 1536 * MiB + 5),
                                  heavy(22, "node", 4, true, 90.2, 200 * MiB),
                                  heavy(23, "clang", 10, false, 100, 0),
                                  heavy(24, "clang", 9000, false, 100, 0),
                                  heavy(25, "clang", 10, false, 100, 0),
                                  heavy(26, "python3", std::nullopt, false, 70, 0)};

  EXPECT_EQ(Compact::advice(snap, 9), std::vector<std::string>{"Go ahead."});

  for (auto level : {LoadLevel::busy, LoadLevel::overloaded, LoadLevel::critical}) {
    snap.assessment.level = level;
    EXPECT_EQ(Compact::advice(snap, 9),
              (std::vector<std::string>{
                  "Go ahead.",
                  "Your session's heavy processes: rustc pid 21 (180% CPU, 1536 MB). Stop those "
                  "you no longer need (kill_ai_process).",
                  "Orphaned AI processes (their agent exited): node pid 22 (90% CPU, 200 MB). "
                  "Safe to stop.",
                  // Agent pids sorted as text: "10" before "9000".
                  "Other AI sessions (agent pid 10, 9000) are running heavy work (4 processes): "
                  "do not stop them; pace yourself."}))
        << rawValue(level);
  }

  // Without `me` nothing is the agent's own; its tasks count as another session's.
  auto unknown = Compact::advice(snap, std::nullopt);
  ASSERT_EQ(unknown.size(), 3u);
  EXPECT_EQ(unknown[2],
            "Other AI sessions (agent pid 10, 9, 9000) are running heavy work (5 processes): do "
            "not stop them; pace yourself.");
}

TEST(CompactSensors, Keys) {
  SensorReport r;
  r.model = "Mac15,3";
  r.uptimeSeconds = 7200;
  r.networkInBytesPerSec = 2.5 * MiB;
  auto bare = Compact::sensors(r);
  EXPECT_EQ(bare, json({{"model", "Mac15,3"},
                        {"uptime_hours", 2.0},
                        {"net_in_mb_s", 2.5},
                        {"net_out_mb_s", 0.0},
                        {"disk_read_mb_s", 0.0},
                        {"disk_write_mb_s", 0.0},
                        {"fans", "none (passive cooling)"},
                        {"network_connections", json::array()}}));

  r.cpuCelsius = 55.55;
  r.cpuMaxCelsius = 71.0;
  r.gpuCelsius = 48.04;
  r.systemWatts = 23.456;
  r.gpuPercent = 37;
  r.fans = {FanInfo{0, 2400, 1200, 6000, 2400.0, true}};
  r.hasFans = true;
  r.battery = SensorReport::Battery{81, true, true, std::nullopt, 312, 93, 30.2, 96};
  NetworkConnection wifi;
  wifi.bsdName = "wlan0";
  wifi.name = "Wi-Fi";
  wifi.kind = NetworkConnection::Kind::wifi;
  wifi.primary = true;
  wifi.linkBitsPerSec = 866'700'000;
  wifi.inBytesPerSec = 1.25 * MiB;
  wifi.wifi = NetworkConnection::WiFi{"Wi-Fi 6", "5", 36, 80, -52, std::nullopt};
  NetworkConnection vpn;
  vpn.bsdName = "tun0";
  vpn.name = "VPN";
  vpn.kind = NetworkConnection::Kind::vpn;
  r.connections = std::vector<NetworkConnection>{wifi, vpn};

  auto full = Compact::sensors(r);
  EXPECT_EQ(full["cpu_c"].dump(), "55.5");  // 55.55 is stored just below .55
  EXPECT_EQ(full["cpu_max_c"], 71.0);
  EXPECT_EQ(full["gpu_c"].dump(), "48.0");
  EXPECT_EQ(full["system_watts"].dump(), "23.5");
  EXPECT_EQ(full["gpu_percent"], 37);
  EXPECT_TRUE(full["gpu_percent"].is_number_integer());
  EXPECT_EQ(full["fans"],
            json::parse(R"([{"rpm":2400.0,"min":1200.0,"max":6000.0,"manual":true}])"));
  EXPECT_EQ(full["battery"], json({{"percent", 81},
                                   {"charging", true},
                                   {"on_ac", true},
                                   {"health_percent", 93},
                                   {"cycles", 312}}));
  ASSERT_EQ(full["network_connections"].size(), 2u);
  EXPECT_EQ(full["network_connections"][0], json({{"interface", "wlan0"},
                                                  {"name", "Wi-Fi"},
                                                  {"kind", "wifi"},
                                                  {"primary", true},
                                                  {"in_mb_s", 1.2},
                                                  {"out_mb_s", 0.0},
                                                  {"link_mbit_s", 867},
                                                  {"standard", "Wi-Fi 6"},
                                                  {"band_ghz", "5"},
                                                  {"channel", 36},
                                                  {"width_mhz", 80},
                                                  {"rssi_dbm", -52}}));
  EXPECT_EQ(full["network_connections"][1], json({{"interface", "tun0"},
                                                  {"name", "VPN"},
                                                  {"kind", "vpn"},
                                                  {"primary", false},
                                                  {"in_mb_s", 0.0},
                                                  {"out_mb_s", 0.0}}));
}

TEST(CompactLine, Sentence) {
  auto snap = idle();
  EXPECT_EQ(Compact::line(snap),
            "Mac load OK: Health 100/100. CPU 5% (9.5 of 10 cores free), memory 8.0/16.0 GB, "
            "pressure normal, disk 200.5 GB free, thermal nominal, CPU 41 °C. Parallel heavy jobs "
            "now: 4, build threads: 10.");

  snap.assessment.level = LoadLevel::overloaded;
  snap.health.reset();
  snap.sensors->cpuCelsius.reset();
  snap.metrics.volumes[0].freeBytes = int64_t(200 * GiB);  // "200", not "200.0"
  snap.metrics.cpu.usage = 0.875;
  snap.metrics.cpu.freeCores = 1.25;
  snap.assessment.recommendedParallelJobs = 1;
  snap.assessment.recommendedBuildThreads = 2;
  EXPECT_EQ(Compact::line(snap),
            "Mac load OVERLOADED: CPU 88% (1.2 of 10 cores free), memory 8.0/16.0 GB, pressure "
            "normal, disk 200 GB free, thermal nominal. Parallel heavy jobs now: 1, build threads: "
            "2.");

  snap.assessment.level = LoadLevel::busy;
  snap.sensors.reset();
  snap.metrics.volumes.clear();
  EXPECT_EQ(Compact::line(snap),
            "Mac load BUSY: CPU 88% (1.2 of 10 cores free), memory 8.0/16.0 GB, pressure normal, "
            ", thermal nominal. Parallel heavy jobs now: 1, build threads: 2.");
}

TEST(CompactJson, SerialisesSafely) {
  json value = {{"path", "/Users/me/Library"}, {"b", 1}, {"a", {{"z", 1}, {"y", 2}}}};
  EXPECT_EQ(Compact::json(value), R"({"a":{"y":2,"z":1},"b":1,"path":"/Users/me/Library"})");
  EXPECT_EQ(Compact::json(value, true),
            "{\n  \"a\": {\n    \"y\": 2,\n    \"z\": 1\n  },\n  \"b\": 1,\n  \"path\": "
            "\"/Users/me/Library\"\n}");

  // A process name with broken UTF-8 and NaN readings still give parseable JSON.
  auto snap = idle();
  auto broken = sample(9, std::string("bad\xff\xfename"), ProcessCategory::userApp);
  broken.cpuPercent = std::nan("");
  snap.processes = {broken};
  snap.metrics.cpu.usage = std::nan("");
  snap.metrics.cpu.freeCores = std::numeric_limits<double>::infinity();
  snap.sensors->cpuCelsius = std::nan("");
  auto text = Compact::json(Compact::status(snap, 5, std::nullopt, noHistory()));
  auto parsed = json::parse(text, nullptr, false);
  ASSERT_FALSE(parsed.is_discarded()) << text;
  EXPECT_TRUE(parsed["top_processes"][0]["cpu_percent"].is_null());
  EXPECT_EQ(parsed["cpu"]["usage_percent"], 0);
  EXPECT_EQ(parsed["top_processes"][0]["name"], "bad\xEF\xBF\xBD\xEF\xBF\xBDname");
  EXPECT_EQ(Compact::line(snap).find("°C"), std::string::npos);
  EXPECT_EQ(Compact::line(snap).find("inf"), std::string::npos) << Compact::line(snap);
}

}  // namespace
}  // namespace norvo
