#include "core/assess/compact.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>

#include "core/assess/text_format.hpp"
#include "core/measure/session.hpp"
#include "core/platform/platform_words.hpp"

namespace norvo::Compact {

namespace {

using Json = nlohmann::json;

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
constexpr double kMiB = 1024.0 * 1024.0;
// Below 30 GiB free, builds and caches start failing within a day of work.
constexpr int64_t kLowDiskBytes = 32212254720;
constexpr size_t kCommandLimit = 160;

// Texts and integers shown to agents come from doubles that may be NaN,
// infinite or huge; these never print "nan" or cast out of range.
using text_format::rounded;
using text_format::truncated;
const auto fixedOne = text_format::oneDecimal;

int64_t megabytes(uint64_t bytes) { return static_cast<int64_t>(bytes >> 20); }

// The one-decimal text without a trailing ".0": 200.0 reads "200".
std::string decimalText(double value) {
  auto text = fixedOne(value);
  if (text == "-0.0") return "0";
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text;
}

// Cuts after `limit` code points, so a multi-byte character is never split.
std::string cutCommand(const std::string& text) {
  size_t points = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (points == kCommandLimit) return text.substr(0, i) + "…";
    ++points;
  }
  return text;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& part : parts) {
    if (!out.empty()) out += ", ";
    out += part;
  }
  return out;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool sameAgent(std::optional<int32_t> agentPid, std::optional<int32_t> me) {
  return agentPid && me && *agentPid == *me;
}

std::string longCPUEntry(const LongCPUProcess& p) {
  return p.name + " pid " + std::to_string(p.pid) + " (" + std::to_string(truncated(p.averageCPU)) +
         "% for " + std::to_string(p.minutes) + " min)";
}

std::string heavyEntry(const ProcessSample& p) {
  return p.name + " pid " + std::to_string(p.pid) + " (" + std::to_string(truncated(p.cpuPercent)) +
         "% CPU, " + std::to_string(megabytes(p.memoryBytes)) + " MB)";
}

Json cpuBlock(const SystemMetrics::CPU& cpu) {
  Json out = {{"usage_percent", rounded(cpu.usage * 100)},
              {"free_cores", oneDecimal(cpu.freeCores)},
              {"cores", cpu.logicalCores},
              {"performance_cores", cpu.performanceCores},
              {"load_1m", oneDecimal(cpu.loadAverage1m)},
              {"load_5m", oneDecimal(cpu.loadAverage5m)}};
  // So an agent told 2 jobs on a 64-core host knows why.
  if (cpu.limitedBy) out["limited_by"] = *cpu.limitedBy;
  return out;
}

Json memoryBlock(const SystemMetrics::Memory& m) {
  Json out = {{"total_gb", gbValue(static_cast<double>(m.totalBytes))},
              {"used_gb", gbValue(static_cast<double>(m.usedBytes))},
              {"available_gb", gbValue(static_cast<double>(m.availableBytes))},
              {"cached_gb", gbValue(static_cast<double>(m.cachedBytes))},
              {"compressed_gb", gbValue(static_cast<double>(m.compressedBytes))},
              {"pressure", m.pressure},
              {"swap_used_gb", gbValue(static_cast<double>(m.swapUsedBytes))},
              {"swapouts_per_s", oneDecimal(m.swapOutsPerSecond)}};
  if (m.limitedBy) out["limited_by"] = *m.limitedBy;
  return out;
}

Json disksBlock(const std::vector<SystemMetrics::Volume>& volumes) {
  Json out = Json::array();
  for (const auto& v : volumes)
    out.push_back({{"path", v.path},
                   {"name", v.name},
                   {"free_gb", gbValue(static_cast<double>(v.freeBytes))},
                   {"total_gb", gbValue(static_cast<double>(v.totalBytes))}});
  return out;
}

Json healthBlock(const Health& health) {
  Json deductions = Json::array();
  for (const auto& d : health.deductions)
    deductions.push_back({{"reason", d.reason}, {"points", d.points}});
  return {{"score", health.score}, {"deductions", std::move(deductions)}};
}

Json zombiesBlock(const ZombieReport& zombies) {
  Json parents = Json::array();
  for (const auto& p : zombies.parents)
    parents.push_back({{"pid", p.pid}, {"name", p.name}, {"count", p.count}});
  return {{"count", zombies.count}, {"parents", std::move(parents)}};
}

std::optional<Json> diskLow(const SystemMetrics& metrics, const FreeChangeLookup& freeChange) {
  auto boot = metrics.bootVolume();
  if (!boot || boot->freeBytes >= kLowDiskBytes) return std::nullopt;
  Json block = {
      {"free_gb", gbValue(static_cast<double>(boot->freeBytes))},
      {"total_gb", gbValue(static_cast<double>(boot->totalBytes))},
      {"next",
       "Tell the owner the disk is filling up. Call disk_usage: grew_recently says what took the "
       "space lately and advice what can safely go; then suggest_cleanup / suggest_uninstall. "
       "Never delete files yourself."}};
  if (freeChange) {
    auto change = freeChange(boot->path, 7, boot->freeBytes, std::chrono::system_clock::now());
    if (change) {
      block["free_change_gb"] = gbValue(static_cast<double>(change->bytes));
      block["free_change_since"] = formatIso8601(change->since);
    }
  }
  return block;
}

template <typename T>
Json firstProcesses(const std::vector<T>& list, int64_t limit, std::optional<int32_t> me) {
  Json out = Json::array();
  auto count = std::min<size_t>(list.size(), static_cast<size_t>(limit));
  for (size_t i = 0; i < count; ++i) out.push_back(process(list[i], me));
  return out;
}

}  // namespace

Json oneDecimal(double value) {
  if (!std::isfinite(value)) return nullptr;
  // Adding 0.0 turns -0.0 into 0.0.
  return std::strtod(fixedOne(value).c_str(), nullptr) + 0.0;
}

Json gbValue(double bytes) { return oneDecimal(bytes / kGiB); }

std::string session(std::optional<int32_t> agentPid, bool orphaned, std::optional<int32_t> me) {
  if (orphaned) return "orphaned";
  if (sameAgent(agentPid, me)) return "yours";
  return "other";
}

std::vector<std::string> advice(const NorvoSnapshot& snapshot, std::optional<int32_t> me) {
  std::vector<std::string> out = snapshot.assessment.advice;

  std::vector<std::string> ownLong, otherLong;
  if (snapshot.longCPU) {
    for (const auto& p : *snapshot.longCPU) {
      bool own = p.category == ProcessCategory::aiTask && (p.orphaned || sameAgent(p.agentPid, me));
      (own ? ownLong : otherLong).push_back(longCPUEntry(p));
    }
  }
  if (!ownLong.empty())
    out.push_back("Your AI processes have kept a core busy for minutes: " + joined(ownLong) +
                  ". If one is stuck or no longer needed, stop it (kill_ai_process).");
  if (!otherLong.empty())
    out.push_back("Busy for minutes (not yours to stop): " + joined(otherLong) +
                  ". If it slows your work, tell the owner.");

  if (snapshot.assessment.level < LoadLevel::busy) return out;

  std::vector<std::string> own, orphaned;
  std::set<std::string> otherAgents;
  size_t otherCount = 0;
  for (const auto& p : snapshot.assessment.heavyAITasks) {
    if (p.orphaned) {
      orphaned.push_back(heavyEntry(p));
    } else if (sameAgent(p.agentPid, me)) {
      own.push_back(heavyEntry(p));
    } else {
      ++otherCount;
      if (p.agentPid) otherAgents.insert(std::to_string(*p.agentPid));
    }
  }
  if (!own.empty())
    out.push_back("Your session's heavy processes: " + joined(own) +
                  ". Stop those you no longer need (kill_ai_process).");
  if (!orphaned.empty())
    out.push_back("Orphaned AI processes (their agent exited): " + joined(orphaned) +
                  ". Safe to stop.");
  if (otherCount > 0)
    out.push_back("Other AI sessions (agent pid " +
                  joined({otherAgents.begin(), otherAgents.end()}) + ") are running heavy work (" +
                  std::to_string(otherCount) + " processes): do not stop them; pace yourself.");
  return out;
}

Json process(const ProcessSample& sample, std::optional<int32_t> me) {
  Json out = {{"pid", sample.pid},
              {"name", sample.name},
              {"cpu_percent", oneDecimal(sample.cpuPercent)},
              {"memory_mb", megabytes(sample.memoryBytes)},
              {"category", rawValue(sample.category)},
              {"killable_by_ai", sample.killable(me)}};
  if (sample.appName) out["app"] = *sample.appName;
  if (sample.agentPid) {
    out["agent_pid"] = *sample.agentPid;
    out["session"] = session(sample.agentPid, sample.orphaned, me);
  }
  out["command"] = cutCommand(sample.arguments);
  return out;
}

Json longCPU(const LongCPUProcess& p, std::optional<int32_t> me) {
  Json out = {{"pid", p.pid},
              {"name", p.name},
              {"category", rawValue(p.category)},
              {"average_cpu_percent", oneDecimal(p.averageCPU)},
              {"minutes", p.minutes}};
  if (p.appName) out["app"] = *p.appName;
  out["orphaned"] = p.orphaned;
  if (p.agentPid) out["session"] = session(p.agentPid, p.orphaned, me);
  return out;
}

Json app(const AppGroup& group) {
  Json out = {{"name", group.name},
              {"cpu_percent", oneDecimal(group.cpuPercent)},
              {"memory_mb", megabytes(group.memoryBytes)},
              {"processes", group.processCount},
              {"main_pid", group.mainPid},
              {"category", rawValue(group.category)}};
  if (group.bundleID) out["bundle_id"] = *group.bundleID;
  return out;
}

Json action(const NorvoStore::Action& a) {
  return {
      {"name", a.name}, {"actor", a.actor}, {"kind", a.kind}, {"pid", a.pid}, {"detail", a.detail}};
}

Json sensors(const SensorReport& r) {
  Json out = {{"model", r.model},
              {"uptime_hours", oneDecimal(r.uptimeSeconds / 3600)},
              {"net_in_mb_s", oneDecimal(r.networkInBytesPerSec / kMiB)},
              {"net_out_mb_s", oneDecimal(r.networkOutBytesPerSec / kMiB)},
              {"disk_read_mb_s", oneDecimal(r.diskReadBytesPerSec / kMiB)},
              {"disk_write_mb_s", oneDecimal(r.diskWriteBytesPerSec / kMiB)}};
  if (r.cpuCelsius) out["cpu_c"] = oneDecimal(*r.cpuCelsius);
  if (r.cpuMaxCelsius) out["cpu_max_c"] = oneDecimal(*r.cpuMaxCelsius);
  if (r.gpuCelsius) out["gpu_c"] = oneDecimal(*r.gpuCelsius);
  if (r.cpuCelsius && r.cpuSource) out["cpu_c_source"] = *r.cpuSource;
  if (r.gpuCelsius && r.gpuSource) out["gpu_c_source"] = *r.gpuSource;
  if (r.systemWatts) out["system_watts"] = oneDecimal(*r.systemWatts);
  if (r.gpuPercent) out["gpu_percent"] = *r.gpuPercent;

  if (r.fans.empty()) {
    out["fans"] = "none (passive cooling)";
  } else {
    Json fans = Json::array();
    for (const auto& f : r.fans)
      fans.push_back({{"rpm", oneDecimal(f.rpm)},
                      {"min", oneDecimal(f.minRPM)},
                      {"max", oneDecimal(f.maxRPM)},
                      {"manual", f.manual}});
    out["fans"] = std::move(fans);
  }

  if (r.battery) {
    const auto& b = *r.battery;
    Json battery = {{"percent", b.percent}, {"charging", b.charging}, {"on_ac", b.onAC}};
    if (b.healthPercent) battery["health_percent"] = *b.healthPercent;
    if (b.cycleCount) battery["cycles"] = *b.cycleCount;
    if (b.minutesLeft) battery["minutes_left"] = *b.minutesLeft;
    out["battery"] = std::move(battery);
  }

  Json connections = Json::array();
  if (r.connections) {
    for (const auto& c : *r.connections) {
      Json entry = {{"interface", c.bsdName},
                    {"name", c.name},
                    {"kind", rawValue(c.kind)},
                    {"primary", c.primary},
                    {"in_mb_s", oneDecimal(c.inBytesPerSec / kMiB)},
                    {"out_mb_s", oneDecimal(c.outBytesPerSec / kMiB)}};
      if (c.linkBitsPerSec && std::isfinite(*c.linkBitsPerSec))
        entry["link_mbit_s"] = rounded(*c.linkBitsPerSec / 1e6);
      if (c.kind == NetworkConnection::Kind::wifi && c.wifi) {
        const auto& w = *c.wifi;
        if (w.standard) entry["standard"] = *w.standard;
        if (w.bandGHz) entry["band_ghz"] = *w.bandGHz;
        if (w.channel) entry["channel"] = *w.channel;
        if (w.widthMHz) entry["width_mhz"] = *w.widthMHz;
        if (w.rssi) entry["rssi_dbm"] = *w.rssi;
        if (w.noise) entry["noise_dbm"] = *w.noise;
      }
      connections.push_back(std::move(entry));
    }
  }
  out["network_connections"] = std::move(connections);
  return out;
}

Json status(const NorvoSnapshot& snapshot, int64_t processLimit) {
  // No disk history is kept by this library yet, so the low-disk block comes
  // without a free-space change.
  return status(snapshot, processLimit, Session::myAgent(), FreeChangeLookup{});
}

Json status(const NorvoSnapshot& snapshot, int64_t processLimit, std::optional<int32_t> me,
            const FreeChangeLookup& freeChange) {
  const auto& m = snapshot.metrics;
  const auto& a = snapshot.assessment;
  Json out = {{"time", formatIso8601(m.timestamp)},
              {"level", rawValue(a.level)},
              {"reasons", a.reasons},
              {"recommended_parallel_jobs", a.recommendedParallelJobs},
              {"recommended_build_threads", a.recommendedBuildThreads},
              {"advice", advice(snapshot, me)},
              {"cpu", cpuBlock(m.cpu)},
              {"memory", memoryBlock(m.memory)},
              {"disks", disksBlock(m.volumes)},
              {"thermal", m.thermalState},
              {"hung_processes", a.hungProcesses},
              {"low_power_mode", m.lowPowerMode}};
  if (snapshot.sensors) out["sensors"] = sensors(*snapshot.sensors);
  if (snapshot.health) out["health"] = healthBlock(*snapshot.health);
  if (snapshot.zombies) out["zombies"] = zombiesBlock(*snapshot.zombies);
  if (snapshot.longCPU && !snapshot.longCPU->empty()) {
    Json list = Json::array();
    for (const auto& p : *snapshot.longCPU) list.push_back(longCPU(p, me));
    out["long_cpu"] = std::move(list);
  }
  // A filling disk matters to an agent whatever else it asked for, so the
  // block does not depend on the process limit.
  if (auto low = diskLow(m, freeChange)) out["disk_low"] = std::move(*low);
  if (processLimit < 1) return out;

  out["top_processes"] = firstProcesses(snapshot.processes, processLimit, me);
  out["ai_tasks"] = firstProcesses(snapshot.aiTasks, processLimit, me);
  if (me) out["your_agent_pid"] = *me;
  Json candidates = Json::array();
  for (const auto& group : a.quitCandidates) candidates.push_back(app(group));
  out["owner_apps_quit_candidates"] = std::move(candidates);
  return out;
}

std::string line(const NorvoSnapshot& snapshot) {
  const auto& m = snapshot.metrics;
  const auto& a = snapshot.assessment;
  std::string out =
      std::string(platform::machineNoun().english) + " load " + upper(rawValue(a.level)) + ":";
  if (snapshot.health) out += " Health " + std::to_string(snapshot.health->score) + "/100.";
  out += " CPU " + std::to_string(rounded(m.cpu.usage * 100)) + "% (" + fixedOne(m.cpu.freeCores) +
         " of " + std::to_string(m.cpu.logicalCores) + " cores free), ";
  out += "memory " + fixedOne(static_cast<double>(m.memory.usedBytes) / kGiB) + "/" +
         fixedOne(static_cast<double>(m.memory.totalBytes) / kGiB) + " GB, pressure " +
         m.memory.pressure;
  // The comma goes with the disk, so a snapshot without a boot volume does
  // not leave an empty item behind.
  if (auto boot = m.bootVolume())
    out += ", disk " + decimalText(static_cast<double>(boot->freeBytes) / kGiB) + " GB free";
  out += ", thermal " + m.thermalState;
  if (snapshot.sensors && snapshot.sensors->cpuCelsius &&
      std::isfinite(*snapshot.sensors->cpuCelsius))
    out += ", CPU " + std::to_string(truncated(*snapshot.sensors->cpuCelsius)) + " °C";
  out += ". Parallel heavy jobs now: " + std::to_string(a.recommendedParallelJobs) + ", " +
         "build threads: " + std::to_string(a.recommendedBuildThreads) + ".";
  return out;
}

std::string json(const nlohmann::json& value, bool pretty) {
  try {
    return value.dump(pretty ? 2 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const std::exception&) {
    // The contract is "{}" for anything that cannot be written, never a throw.
    return "{}";
  }
}

}  // namespace norvo::Compact
