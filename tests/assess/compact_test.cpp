#include "core/assess/compact.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <regex>

#include "assess/assess_fixtures.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using test::GiB;
using test::MiB;
using test::sample;
using C = ProcessCategory;

LongCPUProcess longRunner(int32_t pid, std::string name, C category,
                          std::optional<int32_t> agentPid, bool orphaned, double cpu,
                          int64_t minutes) {
  return {pid, std::move(name), category, std::nullopt, agentPid, orphaned, cpu, minutes};
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
  s.metrics.memory.swapOutsPerSecond = 1.0 / 3;
  s.metrics.volumes = {{"/", "Macintosh HD", int64_t(500 * GiB), int64_t(200 * GiB + GiB / 2)}};
  s.metrics.thermalState = "nominal";
  s.assessment.level = LoadLevel::ok;
  s.assessment.reasons = {"Load is normal"};
  s.assessment.recommendedParallelJobs = 4;
  s.assessment.recommendedBuildThreads = 10;
  s.assessment.advice = {"Go ahead."};
  s.health = Health{100, {}};
  s.sensors = SensorReport{};
  s.sensors->cpuCelsius = 41.7;
  s.longCPU = std::vector<LongCPUProcess>{};
  return s;
}

json status(const NorvoSnapshot& s, int64_t limit, std::optional<int32_t> me = std::nullopt) {
  return Compact::status(s, limit, me,
                         [](auto&&...) { return std::optional<Compact::FreeChange>{}; });
}

TEST(CompactOneDecimal, EncodesAsPrintfOneDecimalAndGigabytesAreBinary) {
  // Ties and values stored just below a tie are pinned by the full digest.
  const std::pair<double, const char*> cases[] = {
      {0.1 + 0.2, "0.3"},  // 0.30000000000000004 must not leak through
      {200.0, "200.0"},
      {-2.46, "-2.5"},
      {-0.04, "0.0"},  // never "-0.0"
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(Compact::oneDecimal(value).dump(), text);
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL})
    EXPECT_TRUE(Compact::oneDecimal(bad).is_null());
  // Too large for one decimal to matter, but still a valid JSON number.
  EXPECT_TRUE(json::parse(Compact::oneDecimal(1e300).dump()).is_number());
  EXPECT_EQ(Compact::gbValue(13207024435.0).dump(), "12.3");  // 12.29999… GiB
  EXPECT_EQ(Compact::gbValue(1e9).dump(), "0.9");             // a decimal GB is 0.93 GiB
}

TEST(CompactStatus, DigestOfAFullSnapshot) {
  auto snap = idle();
  snap.zombies = ZombieReport{3, {{77, "make", 3}}};
  snap.health = Health{85, {{15, "Swap is heavily used", "Своп"}}};
  // Orphans count as the agent's own; infrastructure is never its to stop.
  snap.longCPU =
      std::vector<LongCPUProcess>{longRunner(500, "cc1plus", C::aiTask, 9, false, 99.96, 12),
                                  longRunner(12, "node", C::aiTask, 5, true, 50.5, 7),
                                  longRunner(71, "mds", C::system, std::nullopt, false, 50, 3),
                                  longRunner(15, "mcp-server", C::aiInfra, 9, false, 60.2, 5)};
  snap.longCPU->front().appName = "Xcode";
  // Only agent tasks may be stopped by agents, even by their own agent.
  auto helper = sample(44, "Slack Helper", C::userApp, 9, false, 12.345, 300 * MiB + MiB - 1);
  helper.appName = "Slack";
  helper.arguments = "/opt/Slack/Slack Helper --type=renderer";
  snap.processes = {helper};
  snap.aiTasks = {sample(500, "cc1plus", C::aiTask, 9)};
  snap.assessment.quitCandidates = {test::app("Slack", 45.06, 2 * GiB, C::userApp, "com.slack")};
  auto& sensors = *snap.sensors;
  sensors.model = "Mac15,3";
  sensors.uptimeSeconds = 7200;
  sensors.networkInBytesPerSec = 2.5 * MiB;
  sensors.cpuCelsius = 55.55;  // stored just below .55
  sensors.gpuPercent = 37;
  sensors.fans = {FanInfo{0, 2400, 1200, 6000, 2400.0, true}};
  sensors.hasFans = true;
  sensors.battery = SensorReport::Battery{81, true, true, std::nullopt, 312, 93, 30.2, 96};
  sensors.connections = std::vector<NetworkConnection>{
      {"wlan0", "Wi-Fi", NetworkConnection::Kind::wifi, 866'700'000, true, 1.25 * MiB, 0,
       NetworkConnection::WiFi{"Wi-Fi 6", "5", 36, 80, -52, {}}}};

  // Compared as text: JSON equality does not tell 5 from 5.0.
  EXPECT_EQ(status(snap, 5, 9).dump(), json::parse(R"({"time":"2026-03-14T09:26:53Z","level":"ok",
    "reasons":["Load is normal"],"recommended_build_threads":10,"recommended_parallel_jobs":4,
    "advice":["Go ahead.","Your AI processes have kept a core busy for minutes: cc1plus pid 500 (99% for 12 min), node pid 12 (50% for 7 min). If one is stuck or no longer needed, stop it (kill_ai_process).",
              "Busy for minutes (not yours to stop): mds pid 71 (50% for 3 min), mcp-server pid 15 (60% for 5 min). If it slows your work, tell the owner."],
    "cpu":{"cores":10,"free_cores":9.5,"load_1m":1.2,"load_5m":2.0,"performance_cores":8,"usage_percent":5},
    "memory":{"available_gb":8.0,"cached_gb":3.1,"compressed_gb":0.3,"pressure":"normal",
              "swap_used_gb":0.0,"swapouts_per_s":0.3,"total_gb":16.0,"used_gb":8.0},
    "disks":[{"free_gb":200.5,"name":"Macintosh HD","path":"/","total_gb":500.0}],
    "thermal":"nominal","hung_processes":[],"low_power_mode":false,
    "health":{"deductions":[{"points":15,"reason":"Swap is heavily used"}],"score":85},
    "zombies":{"count":3,"parents":[{"count":3,"name":"make","pid":77}]},
    "long_cpu":[{"average_cpu_percent":100.0,"category":"ai_task","minutes":12,"name":"cc1plus",
                 "orphaned":false,"pid":500,"session":"yours","app":"Xcode"},
                {"average_cpu_percent":50.5,"category":"ai_task","minutes":7,"name":"node",
                 "orphaned":true,"pid":12,"session":"orphaned"},
                {"average_cpu_percent":50.0,"category":"system","minutes":3,"name":"mds",
                 "orphaned":false,"pid":71},
                {"average_cpu_percent":60.2,"category":"ai_infra","minutes":5,"name":"mcp-server",
                 "orphaned":false,"pid":15,"session":"yours"}],
    "top_processes":[{"pid":44,"name":"Slack Helper","cpu_percent":12.3,"memory_mb":300,
      "category":"user_app","killable_by_ai":false,"app":"Slack","agent_pid":9,"session":"yours",
      "command":"/opt/Slack/Slack Helper --type=renderer"}],
    "ai_tasks":[{"agent_pid":9,"category":"ai_task","command":"","cpu_percent":0.0,
                 "killable_by_ai":true,"memory_mb":0,"name":"cc1plus","pid":500,"session":"yours"}],
    "your_agent_pid":9,
    "owner_apps_quit_candidates":[{"category":"user_app","cpu_percent":45.1,"main_pid":100,
                                   "memory_mb":2048,"name":"Slack","processes":1,"bundle_id":"com.slack"}],
    "sensors":{"model":"Mac15,3","uptime_hours":2.0,"net_in_mb_s":2.5,"net_out_mb_s":0.0,
      "disk_read_mb_s":0.0,"disk_write_mb_s":0.0,"cpu_c":55.5,"gpu_percent":37,
      "fans":[{"rpm":2400.0,"min":1200.0,"max":6000.0,"manual":true}],
      "battery":{"percent":81,"charging":true,"on_ac":true,"health_percent":93,"cycles":312},
      "network_connections":[{"interface":"wlan0","name":"Wi-Fi","kind":"wifi","primary":true,
        "in_mb_s":1.2,"out_mb_s":0.0,"link_mbit_s":867,"standard":"Wi-Fi 6","band_ghz":"5",
        "channel":36,"width_mhz":80,"rssi_dbm":-52}]}})")
                                           .dump());
  // Without sensors' optional parts.
  EXPECT_EQ(Compact::sensors(SensorReport{}).dump(), json::parse(R"j({"model":"","uptime_hours":0.0,
    "net_in_mb_s":0.0,"net_out_mb_s":0.0,"disk_read_mb_s":0.0,"disk_write_mb_s":0.0,
    "fans":"none (passive cooling)","network_connections":[]})j")
                                                         .dump());
}

// Every float in the encoded text has at most one decimal (or is in exponent
// form for magnitudes that "%.1f" cannot shorten).
void expectAtMostOneDecimal(const json& value, const std::string& where = "") {
  static const std::regex oneDecimal(R"(-?\d+(\.\d)?|-?\d(\.\d+)?e[+-]\d+)");
  if (value.is_number_float()) {
    EXPECT_TRUE(std::regex_match(value.dump(), oneDecimal)) << where << " = " << value.dump();
  }
  for (auto it = value.begin(); value.is_structured() && it != value.end(); ++it)
    expectAtMostOneDecimal(*it, where + "." + (value.is_object() ? it.key() : "[]"));
}

TEST(CompactStatus, OptionalBlocksAndProcessLimit) {
  auto snap = idle();
  snap.sensors.reset();
  snap.health.reset();
  snap.longCPU.reset();
  snap.processes = {sample(1, "a", C::userApp), sample(2, "b", C::system),
                    sample(3, "c", C::userApp)};
  snap.aiTasks = {sample(4, "d", C::aiTask, 9)};
  auto digest = status(snap, 2);
  for (const char* key : {"sensors", "health", "zombies", "long_cpu", "your_agent_pid"})
    EXPECT_FALSE(digest.contains(key)) << key;
  ASSERT_EQ(digest["top_processes"].size(), 2u);
  EXPECT_EQ(digest["top_processes"][1]["pid"], 2);
  EXPECT_EQ(digest["owner_apps_quit_candidates"], json::array());
  snap.longCPU = std::vector<LongCPUProcess>{};
  EXPECT_FALSE(status(snap, 2).contains("long_cpu"));

  for (int64_t limit : {0, -1}) {
    digest = status(snap, limit, 9);
    for (const char* key :
         {"top_processes", "ai_tasks", "your_agent_pid", "owner_apps_quit_candidates"})
      EXPECT_FALSE(digest.contains(key)) << key << " at limit " << limit;
    EXPECT_TRUE(digest.contains("advice"));
  }
}

TEST(CompactStatus, LowDiskBlockBelowThirtyGigabytesOfTheBootVolume) {
  auto snap = idle();
  // A data volume listed first: the boot volume is still the one at "/".
  snap.metrics.volumes = {{"/data", "data", int64_t(900 * GiB), int64_t(1 * GiB)},
                          {"/", "root", int64_t(250 * GiB), int64_t(29.9 * GiB)}};
  std::tuple<std::string, double, int64_t> asked;
  Compact::FreeChangeLookup lookup = [&](const std::string& path, double days, int64_t free,
                                         Date) -> std::optional<Compact::FreeChange> {
    asked = {path, days, free};
    return Compact::FreeChange{-int64_t(5 * GiB / 2), parseIso8601("2026-03-07T08:00:00Z").value()};
  };
  auto low = Compact::status(snap, 0, std::nullopt, lookup);
  EXPECT_EQ(low["disk_low"], json::parse(R"({"free_gb":29.9,"total_gb":250.0,"free_change_gb":-2.5,
    "free_change_since":"2026-03-07T08:00:00Z","next":"Tell the owner the disk is filling up. Call disk_usage: grew_recently says what took the space lately and advice what can safely go; then suggest_cleanup / suggest_uninstall. Never delete files yourself."})"));
  EXPECT_EQ(asked, std::tuple("/", 7.0, int64_t(29.9 * GiB)));
  EXPECT_FALSE(status(snap, 0)["disk_low"].contains("free_change_gb"));

  snap.metrics.volumes[1].freeBytes = int64_t(30 * GiB);
  EXPECT_FALSE(Compact::status(snap, 0, std::nullopt, lookup).contains("disk_low"));
  snap.metrics.volumes.clear();
  EXPECT_FALSE(Compact::status(snap, 0, std::nullopt, lookup).contains("disk_low"));
}

TEST(CompactProcess, CommandIsCutAt160Characters) {
  auto s = sample(1, "node");
  s.arguments = std::string(200, 'x');
  EXPECT_EQ(Compact::process(s, std::nullopt)["command"], std::string(160, 'x') + "…");
  s.arguments = std::string(160, 'y');
  EXPECT_EQ(Compact::process(s, std::nullopt)["command"], s.arguments);
  // Characters, not bytes: 170 Cyrillic letters (two bytes each) keep 160 whole letters.
  std::string cyrillic;
  for (int i = 0; i < 170; ++i) cyrillic += "ж";
  s.arguments = cyrillic;
  EXPECT_EQ(Compact::process(s, std::nullopt)["command"], cyrillic.substr(0, 320) + "…");
}

TEST(CompactAdvice, HeavyAITasksOnlyWhenBusy) {
  auto snap = idle();
  snap.assessment.heavyAITasks = {sample(21, "rustc", C::aiTask, 9, false, 180.7, 1536 * MiB + 5),
                                  sample(22, "node", C::aiTask, 4, true, 90.2, 200 * MiB),
                                  sample(23, "clang", C::aiTask, 10, false, 100),
                                  sample(24, "clang", C::aiTask, 9000, false, 100),
                                  sample(25, "clang", C::aiTask, 10, false, 100),
                                  sample(26, "python3", C::aiTask, std::nullopt, false, 70)};
  EXPECT_EQ(Compact::advice(snap, 9), std::vector<std::string>{"Go ahead."});
  snap.assessment.level = LoadLevel::busy;
  EXPECT_EQ(Compact::advice(snap, 9),
            (std::vector<std::string>{
                "Go ahead.",
                "Your session's heavy processes: rustc pid 21 (180% CPU, 1536 MB). Stop those you "
                "no longer need (kill_ai_process).",
                "Orphaned AI processes (their agent exited): node pid 22 (90% CPU, 200 MB). Safe "
                "to stop.",
                // Agent pids sorted as text: "10" before "9000".
                "Other AI sessions (agent pid 10, 9000) are running heavy work (4 processes): do "
                "not stop them; pace yourself."}));
}

TEST(CompactLine, Sentence) {
  auto snap = idle();
  EXPECT_EQ(Compact::line(snap),
            "Computer load OK: Health 100/100. CPU 5% (9.5 of 10 cores free), memory 8.0/16.0 GB, "
            "pressure normal, disk 200.5 GB free, thermal nominal, CPU 41 °C. Parallel heavy jobs "
            "now: 4, build threads: 10.");

  snap.assessment.level = LoadLevel::overloaded;
  snap.health.reset();
  snap.sensors->cpuCelsius.reset();
  snap.metrics.volumes[0].freeBytes = int64_t(200 * GiB);  // "200", not "200.0"
  snap.metrics.cpu.usage = 0.875;
  snap.metrics.cpu.freeCores = 1.25;
  EXPECT_EQ(Compact::line(snap),
            "Computer load OVERLOADED: CPU 88% (1.2 of 10 cores free), memory 8.0/16.0 GB, "
            "pressure normal, disk 200 GB free, thermal nominal. Parallel heavy jobs now: 4, build "
            "threads: 10.");

  // Without a boot volume the disk item goes, and its comma with it.
  snap.metrics.volumes.clear();
  EXPECT_NE(Compact::line(snap).find("GB, pressure normal, thermal nominal."), std::string::npos);
}

TEST(CompactJson, SerialisesSafely) {
  json value = {{"path", "/Users/me/Library"}, {"b", 1}, {"a", {{"z", 1}, {"y", 2}}}};
  EXPECT_EQ(Compact::json(value), R"({"a":{"y":2,"z":1},"b":1,"path":"/Users/me/Library"})");

  // Awkward figures, a process name with broken UTF-8 and NaN readings still
  // give parseable JSON with at most one decimal.
  auto snap = idle();
  snap.metrics.cpu = {std::nan(""), 7, 7, 0, 2.0 / 3, 0.1 + 0.2, HUGE_VAL};
  snap.metrics.memory.usedBytes = 7 * GiB + 12345;
  snap.metrics.memory.swapUsedBytes = GiB / 7;
  snap.metrics.memory.swapOutsPerSecond = 1e-9;
  snap.metrics.volumes.push_back({"/data", "data", 987654321987, 12345678901});
  auto& sensors = *snap.sensors;
  sensors.uptimeSeconds = 123456.789;
  sensors.networkInBytesPerSec = 1234567.891;
  sensors.systemWatts = 7.77777;
  sensors.fans = {FanInfo{0, 1843.2345, 1200.1, 5000.99, std::nullopt, false}};
  sensors.cpuCelsius = std::nan("");
  snap.processes = {sample(9, "bad\xff\xfename", C::userApp, std::nullopt, false, std::nan(""))};
  auto text = Compact::json(status(snap, 5));
  auto parsed = json::parse(text, nullptr, false);
  ASSERT_FALSE(parsed.is_discarded()) << text;
  expectAtMostOneDecimal(parsed);
  EXPECT_EQ(parsed["memory"]["swapouts_per_s"].dump(), "0.0");
  EXPECT_TRUE(parsed["top_processes"][0]["cpu_percent"].is_null());
  EXPECT_EQ(parsed["cpu"]["usage_percent"], 0);
  EXPECT_EQ(parsed["top_processes"][0]["name"], "bad\xEF\xBF\xBD\xEF\xBF\xBDname");
  EXPECT_EQ(Compact::line(snap).find("°C"), std::string::npos);
  EXPECT_EQ(Compact::line(snap).find("inf"), std::string::npos) << Compact::line(snap);
}

}  // namespace
}  // namespace norvo
