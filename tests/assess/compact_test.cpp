#include "core/assess/compact.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>

#include "assess/assess_fixtures.hpp"
#include "core/assess/exposition.hpp"
#include "core/assess/text_format.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using test::GiB;
using test::MiB;
using test::sample;
using C = ProcessCategory;

// The idle machine of the product's own example line.
NorvoSnapshot idle() {
  NorvoSnapshot s;
  s.metrics.timestamp = parseIso8601("2026-03-14T09:26:53Z").value();
  s.metrics.cpu = {0.05, 10, 8, 2, 1.234, 2.0, 9.5};
  s.metrics.memory = {16 * GiB, 8 * GiB, 0, 0, GiB / 3, 3 * GiB + 123456789, 8 * GiB};
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

TEST(CompactStatus, DigestOfAFullSnapshot) {
  auto snap = idle();
  snap.zombies = ZombieReport{3, {{77, "make", 3}}};
  snap.health = Health{85, {{15, "Swap is heavily used", "Своп"}}};
  // Orphans count as the agent's own; infrastructure is never its to stop.
  snap.longCPU =
      std::vector<LongCPUProcess>{{500, "cc1plus", C::aiTask, "Xcode", 9, false, 99.96, 12},
                                  {12, "node", C::aiTask, std::nullopt, 5, true, 50.5, 7},
                                  {71, "mds", C::system, std::nullopt, std::nullopt, false, 50, 3},
                                  {15, "mcp-server", C::aiInfra, std::nullopt, 9, false, 60.2, 5}};
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
      {"wlan0", "Wi-Fi", NetworkConnection::Kind::wifi, 866'700'000, true, 1.25 * MiB, 0, {}}};

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
        "in_mb_s":1.2,"out_mb_s":0.0,"link_mbit_s":867}]}})")
                                           .dump());
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
}

// Rounding, ties and binary gigabytes are pinned by the full digest.
TEST(CompactJson, SerialisesSafely) {
  EXPECT_EQ(Compact::oneDecimal(-0.04).dump(), "0.0");
  // Too large for one decimal to matter, but still a valid JSON number.
  EXPECT_TRUE(json::parse(Compact::oneDecimal(1e300).dump()).is_number());
  json value = {{"path", "/Users/me/Library"}, {"b", 1}, {"a", {{"z", 1}, {"y", 2}}}};
  EXPECT_EQ(Compact::json(value), R"({"a":{"y":2,"z":1},"b":1,"path":"/Users/me/Library"})");

  // A process name with broken UTF-8 and readings of NaN or infinity still
  // give parseable JSON, and a line with neither "inf" nor a temperature.
  auto snap = idle();
  snap.metrics.cpu = {std::nan(""), 7, 7, 0, 2.0 / 3, 0.1 + 0.2, HUGE_VAL};
  snap.sensors->cpuCelsius = std::nan("");
  snap.processes = {sample(9, "bad\xff\xfename", C::userApp, std::nullopt, false, std::nan(""))};
  auto text = Compact::json(status(snap, 5));
  auto parsed = json::parse(text, nullptr, false);
  ASSERT_FALSE(parsed.is_discarded()) << text;
  EXPECT_TRUE(parsed["top_processes"][0]["cpu_percent"].is_null());
  EXPECT_TRUE(parsed["cpu"]["free_cores"].is_null());
  EXPECT_EQ(parsed["cpu"]["usage_percent"], 0);
  EXPECT_EQ(parsed["top_processes"][0]["name"], "bad\xEF\xBF\xBD\xEF\xBF\xBDname");
  EXPECT_EQ(Compact::line(snap).find("°C"), std::string::npos);
  EXPECT_EQ(Compact::line(snap).find("inf"), std::string::npos) << Compact::line(snap);
}

// What the digest's killable_by_ai says, and what an agent may stop.
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

// The shared text helpers behind the digest and the sentences: what a reading
// that cannot be real, or a name a stranger chose, would otherwise break.
// Rounding is pinned by the texts that use them, and that no "nan" or "inf"
// reaches a sentence by the advisor's and the summary line's odd figures.
TEST(TextFormat, FiguresPastTheIntegerRangeAreClampedAndControlCharactersGo) {
  using namespace text_format;
  EXPECT_EQ(truncated(std::nan("")), 0);
  EXPECT_EQ(truncated(-1e300), std::numeric_limits<int64_t>::min());
  // 2^63 does not fit.
  EXPECT_EQ(truncated(9223372036854775808.0), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(rounded(1e19), std::numeric_limits<int64_t>::max());

  using namespace std::string_literals;
  // An escape sequence setting the terminal title, a C1 CSI, DEL and NUL.
  EXPECT_EQ(printable("a\x1b]0;owned\x07"
                      "b\xC2\x9B"
                      "31m\x7F\0z"s),
            "a?]0;owned?b?31m??z");
  EXPECT_EQ(printable("Редактор – café ✓"), "Редактор – café ✓");
}

// The exposition Prometheus scrapes: escaping, the level's state set and
// figures left out when the machine lacks them. That a real Prometheus parses
// the whole text is PrometheusScrape's to show.
using Exposition::Format;

// Each sample line as "name{labels}" → value text.
std::map<std::string, std::string> seriesOf(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    auto space = line.rfind(' ');
    EXPECT_TRUE(out.emplace(line.substr(0, space), line.substr(space + 1)).second) << line;
  }
  return out;
}

NorvoSnapshot busyBox() {
  NorvoSnapshot s;
  s.metrics = test::idleMachine();
  s.metrics.volumes.push_back({"/mnt/a \"b\"\\c\nd", "odd", 100, 40});
  s.assessment.hungProcesses = {"nfsd"};
  s.health = Health{};
  s.zombies = ZombieReport{2, {}};
  s.sensors = SensorReport{};
  s.sensors->temperatures = {{"coretemp Package", 61.5}, {"coretemp Package", 60}, {"nvme", NAN}};
  s.sensors->fans = {FanInfo{0, 1200, 0, 5000, std::nullopt, false}};
  return s;
}

TEST(Exposition, EscapesLabelValuesAndReplacesBrokenUtf8) {
  std::pair<std::string, std::string> cases[] = {
      {"a\\b \"c\"\nd", "a\\\\b \\\"c\\\"\\nd"},
      {"Диск ☃", "Диск ☃"},
      {"bad\xFF!", "bad\xEF\xBF\xBD!"},
      {"cut \xD0", "cut \xEF\xBF\xBD"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Exposition::escapeLabel(in), out) << in;
}

TEST(Exposition, LeavesOutWhatTheMachineLacksAndRepeatsNoSeries) {
  NorvoSnapshot bare;
  bare.metrics.memory.pressure = "unknown";
  auto plain = Exposition::render(bare, {}, Format::prometheus);
  for (const char* absent : {"temperature", "fan", "health", "zombie", "volume", "pressure"})
    EXPECT_EQ(plain.find(absent), std::string::npos) << absent;

  auto counts = Exposition::countProcesses({sample(1, "agent", C::aiAgent, std::nullopt, true),
                                            sample(2, "task"),
                                            sample(3, "orphan", C::aiTask, std::nullopt, true)});
  auto series = seriesOf(Exposition::render(busyBox(), counts, Format::prometheus));
  EXPECT_EQ(series["norvo_temperature_celsius{sensor=\"coretemp Package\"}"], "61.5");
  EXPECT_EQ(series.count("norvo_temperature_celsius{sensor=\"nvme\"}"), 0u);
  EXPECT_EQ(series["norvo_fan_speed_rpm{fan=\"0\"}"], "1200");
  EXPECT_EQ(series["norvo_volume_free_bytes{mountpoint=\"/mnt/a \\\"b\\\"\\\\c\\nd\"}"], "40");
  EXPECT_EQ(series["norvo_ai_agent_processes"] + series["norvo_ai_tasks"] +
                series["norvo_ai_orphaned_tasks"] + series["norvo_hung_processes"],
            "1211");
  // The level is a state set: one series per level, only the current one at 1.
  std::string levels;
  for (const char* l : {"ok", "busy", "overloaded", "critical"})
    levels += series["norvo_level{level=\"" + std::string(l) + "\"}"];
  EXPECT_EQ(levels, "1000");
}

}  // namespace
}  // namespace norvo
