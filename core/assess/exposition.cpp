#include "core/assess/exposition.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>

namespace norvo::Exposition {

namespace {

// One metric family after another; a family's samples follow its header, as
// both formats require.
class Writer {
 public:
  explicit Writer(Format format) : format_(format) { out_.reserve(4096); }

  void family(std::string_view name, std::string_view help) {
    out_.append("# HELP ").append(name).append(" ").append(help).append("\n# TYPE ");
    out_.append(name).append(" gauge\n");
  }

  template <typename Number>
  void gauge(std::string_view name, std::string_view help, Number value) {
    family(name, help);
    sample(name, {}, {}, value);
  }

  template <typename Number>
  void sample(std::string_view name, std::string_view label, std::string_view labelValue,
              Number value) {
    out_.append(name);
    if (!label.empty())
      out_.append("{").append(label).append("=\"").append(escapeLabel(labelValue)).append("\"}");
    out_.append(" ");
    number(value);
    out_.append("\n");
  }

  std::string finish() && {
    if (format_ == Format::openMetrics) out_.append("# EOF\n");
    return std::move(out_);
  }

 private:
  void number(double value) {
    // Both formats spell the non-finite values this way, not as printf does.
    if (std::isnan(value)) {
      out_.append("NaN");
    } else if (std::isinf(value)) {
      out_.append(value > 0 ? "+Inf" : "-Inf");
    } else {
      std::array<char, 32> text{};
      auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
      out_.append(text.data(), end);
    }
  }
  void number(std::integral auto value) {
    std::array<char, 24> text{};
    auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    out_.append(text.data(), end);
  }

  Format format_;
  std::string out_;
};

// Length of the valid UTF-8 sequence at the start of `s`, 0 when invalid
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t utf8Length(std::string_view s) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b = byte(0);
  if (b < 0x80) return 1;
  size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
  if (length == 0 || b > 0xF4 || s.size() < length) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  unsigned char second = byte(1);
  if (b == 0xE0 && second < 0xA0) return 0;
  if (b == 0xED && second >= 0xA0) return 0;
  if (b == 0xF0 && second < 0x90) return 0;
  if (b == 0xF4 && second >= 0x90) return 0;
  return length;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::optional<int> pressureValue(const std::string& pressure) {
  if (pressure == "normal") return 0;
  if (pressure == "warning") return 1;
  if (pressure == "critical") return 2;
  return std::nullopt;
}

}  // namespace

ProcessCounts countProcesses(const std::vector<ProcessSample>& samples) {
  ProcessCounts counts;
  for (const auto& s : samples) {
    if (s.category == ProcessCategory::aiAgent) ++counts.aiAgents;
    if (s.category != ProcessCategory::aiTask) continue;
    ++counts.aiTasks;
    if (s.orphaned) ++counts.orphanedTasks;
  }
  return counts;
}

Format negotiate(std::string_view accept) {
  while (!accept.empty()) {
    auto comma = accept.find(',');
    auto range = accept.substr(0, comma);
    accept = comma == std::string_view::npos ? std::string_view{} : accept.substr(comma + 1);
    auto semicolon = range.find(';');
    if (!equalsIgnoringCase(trimmed(range.substr(0, semicolon)), "application/openmetrics-text"))
      continue;
    bool wanted = true;
    while (semicolon != std::string_view::npos) {
      auto rest = range.substr(semicolon + 1);
      semicolon = rest.find(';');
      auto parameter = trimmed(rest.substr(0, semicolon));
      auto equals = parameter.find('=');
      if (equals == std::string_view::npos) continue;
      auto key = trimmed(parameter.substr(0, equals));
      auto value = trimmed(parameter.substr(equals + 1));
      if (equalsIgnoringCase(key, "version") && value != "1.0.0") wanted = false;
      if (equalsIgnoringCase(key, "q") && std::strtod(std::string(value).c_str(), nullptr) <= 0)
        wanted = false;
    }
    if (wanted) return Format::openMetrics;
  }
  return Format::prometheus;
}

std::string_view contentType(Format format) {
  return format == Format::openMetrics
             ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
             : "text/plain; version=0.0.4; charset=utf-8";
}

std::string escapeLabel(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  while (!value.empty()) {
    size_t length = utf8Length(value);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      value.remove_prefix(1);
      continue;
    }
    char c = value.front();
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out.append(value.substr(0, length));
    value.remove_prefix(length);
  }
  return out;
}

std::string render(const NorvoSnapshot& snapshot, const ProcessCounts& counts, Format format) {
  const auto& m = snapshot.metrics;
  const auto& a = snapshot.assessment;
  Writer w(format);

  w.family("norvo_level", "Load level as a state set: 1 for the current level, 0 for the others.");
  for (auto level : {LoadLevel::ok, LoadLevel::busy, LoadLevel::overloaded, LoadLevel::critical})
    w.sample("norvo_level", "level", rawValue(level), a.level == level ? 1 : 0);
  w.gauge("norvo_level_severity", "Load level: 0 ok, 1 busy, 2 overloaded, 3 critical.",
          severity(a.level));
  w.gauge("norvo_recommended_parallel_jobs",
          "Heavy jobs an AI agent may start now; 0 means start none.", a.recommendedParallelJobs);
  w.gauge("norvo_recommended_build_threads", "Threads a build may use now.",
          a.recommendedBuildThreads);
  if (snapshot.health)
    w.gauge("norvo_health_score", "Health score, 0 to 100 points.", snapshot.health->score);
  w.gauge("norvo_snapshot_timestamp_seconds", "When the figures were measured, in Unix seconds.",
          std::chrono::duration<double>(m.timestamp.time_since_epoch()).count());

  w.gauge("norvo_cpu_usage_ratio", "Busy share of the usable processors, 0 to 1.", m.cpu.usage);
  w.gauge("norvo_cpu_logical_cores", "Logical processors this machine or its limits allow.",
          m.cpu.logicalCores);
  w.gauge("norvo_free_cores", "Processors' worth of idle time.", m.cpu.freeCores);
  w.gauge("norvo_load1", "Load average over 1 minute.", m.cpu.loadAverage1m);
  w.gauge("norvo_load5", "Load average over 5 minutes.", m.cpu.loadAverage5m);

  w.gauge("norvo_memory_total_bytes", "Memory this machine or its limit allows.",
          m.memory.totalBytes);
  w.gauge("norvo_memory_used_bytes", "Memory in use by apps, the kernel and compression.",
          m.memory.usedBytes);
  w.gauge("norvo_memory_available_bytes", "Memory free for new work.", m.memory.availableBytes);
  w.gauge("norvo_memory_cached_bytes", "Memory holding file caches.", m.memory.cachedBytes);
  if (auto pressure = pressureValue(m.memory.pressure))
    w.gauge("norvo_memory_pressure", "Memory pressure: 0 normal, 1 warning, 2 critical.",
            *pressure);
  w.gauge("norvo_swap_used_bytes", "Swap in use.", m.memory.swapUsedBytes);
  w.gauge("norvo_swap_total_bytes", "Swap space configured.", m.memory.swapTotalBytes);
  w.gauge("norvo_swap_out_pages_per_second", "Pages swapped out per second.",
          m.memory.swapOutsPerSecond);

  // One series per label value: a repeated one would make Prometheus drop
  // the whole scrape as a duplicate.
  std::set<std::string_view> seen;
  if (!m.volumes.empty()) {
    w.family("norvo_volume_free_bytes", "Free space of a local writable volume.");
    for (const auto& v : m.volumes)
      if (seen.insert(v.path).second)
        w.sample("norvo_volume_free_bytes", "mountpoint", v.path, v.freeBytes);
    seen.clear();
    w.family("norvo_volume_total_bytes", "Size of a local writable volume.");
    for (const auto& v : m.volumes)
      if (seen.insert(v.path).second)
        w.sample("norvo_volume_total_bytes", "mountpoint", v.path, v.totalBytes);
  }

  if (const auto& s = snapshot.sensors) {
    auto finite = [](const std::optional<double>& v) { return v && std::isfinite(*v); };
    if (finite(s->cpuCelsius))
      w.gauge("norvo_cpu_temperature_celsius", "Processor temperature.", *s->cpuCelsius);
    if (finite(s->gpuCelsius))
      w.gauge("norvo_gpu_temperature_celsius", "Graphics processor temperature.", *s->gpuCelsius);
    seen.clear();
    bool any = false;
    for (const auto& t : s->temperatures) {
      if (!std::isfinite(t.celsius) || !seen.insert(t.name).second) continue;
      if (!any) w.family("norvo_temperature_celsius", "Temperature of one sensor.");
      any = true;
      w.sample("norvo_temperature_celsius", "sensor", t.name, t.celsius);
    }
    std::set<int64_t> fans;
    for (const auto& f : s->fans) {
      if (!std::isfinite(f.rpm) || !fans.insert(f.id).second) continue;
      if (fans.size() == 1) w.family("norvo_fan_speed_rpm", "Speed of one fan.");
      w.sample("norvo_fan_speed_rpm", "fan", std::to_string(f.id), f.rpm);
    }
  }

  w.gauge("norvo_ai_agent_processes", "Processes of AI agents (agent programs and AI apps).",
          counts.aiAgents);
  w.gauge("norvo_ai_tasks", "Processes AI agents started.", counts.aiTasks);
  w.gauge("norvo_ai_orphaned_tasks", "AI tasks whose agent has exited.", counts.orphanedTasks);
  if (snapshot.zombies)
    w.gauge("norvo_zombie_processes", "Exited processes their parent has not reaped.",
            snapshot.zombies->count);
  w.gauge("norvo_hung_processes", "Processes stuck in the kernel.",
          static_cast<int64_t>(a.hungProcesses.size()));
  return std::move(w).finish();
}

}  // namespace norvo::Exposition
