#include "core/assess/advisor.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "core/assess/text_format.hpp"
#include "core/platform/platform_words.hpp"

namespace norvo {

namespace {

using text_format::finiteOrZero;
using text_format::oneDecimal;
using text_format::percent;
using text_format::rounded;
using text_format::truncated;

constexpr double GiB = 1073741824.0;
constexpr uint64_t GiBBytes = 1ull << 30;
constexpr uint64_t halfGiBBytes = 1ull << 29;
// One heavy job per 2.5 GiB of memory it can have without pushing others out.
constexpr double bytesPerJob = 2684354560.0;
constexpr size_t maxQuitCandidates = 8;
constexpr size_t quitCandidatesNamed = 5;
constexpr size_t maxHeavyAITasks = 10;
constexpr size_t hungNamesListed = 6;

// Reasons gathered rule by rule; the level only ever rises.
struct Judgement {
  LoadLevel level = LoadLevel::ok;
  std::vector<std::string> reasons;
  std::vector<std::string> reasonsRu;

  void fire(LoadLevel ruleLevel, std::string english, std::string russian) {
    level = std::max(level, ruleLevel);
    reasons.push_back(std::move(english));
    reasonsRu.push_back(std::move(russian));
  }
};

// A stuck emulator shows up as its processes blocked in the kernel.
bool looksLikeEmulator(const std::string& name) { return platform::isEmulatorProcessName(name); }

// The machine's noun at the start of an advice sentence.
std::string machine() { return std::string(platform::machineNoun().english); }

std::string memoryText(uint64_t bytes) {
  if (bytes >= GiBBytes) return oneDecimal(static_cast<double>(bytes) / GiB) + " GB";
  return std::to_string(bytes / (1ull << 20)) + " MB";
}

bool isQuitCandidate(const AppGroup& app, const NorvoConfig& config) {
  return Advisor::mayPropose(app, config) &&
         (finiteOrZero(app.cpuPercent) >= 25 || app.memoryBytes >= GiBBytes);
}

std::string joined(const std::vector<std::string>& parts, size_t limit) {
  std::string out;
  for (size_t i = 0; i < parts.size() && i < limit; ++i) {
    if (i > 0) out += ", ";
    out += parts[i];
  }
  return out;
}

}  // namespace

double Advisor::impact(double cpuPercent, uint64_t memoryBytes, const SystemMetrics& metrics) {
  const auto cores = metrics.cpu.logicalCores;
  const double cpuDivisor = cores > 0 ? 100.0 * static_cast<double>(cores) : 100.0;
  const double total = static_cast<double>(std::max<uint64_t>(metrics.memory.totalBytes, 1));
  return finiteOrZero(cpuPercent) / cpuDivisor + static_cast<double>(memoryBytes) / total;
}

bool Advisor::mayPropose(const AppGroup& app, const NorvoConfig& config) {
  if (app.category != ProcessCategory::userApp) return false;
  return !app.bundleID || std::find(config.neverSuggest.begin(), config.neverSuggest.end(),
                                    *app.bundleID) == config.neverSuggest.end();
}

Assessment Advisor::assess(const SystemMetrics& metrics, const std::vector<AppGroup>& apps,
                           const std::vector<ProcessSample>& aiTasks,
                           const std::vector<std::string>& hung, const NorvoConfig& config) {
  const double usage = finiteOrZero(metrics.cpu.usage);
  const int64_t cores = metrics.cpu.logicalCores;
  const int64_t perf = metrics.cpu.performanceCores;
  const double load = finiteOrZero(metrics.cpu.loadAverage1m);
  const double freeCores = finiteOrZero(metrics.cpu.freeCores);
  const double total = static_cast<double>(std::max<uint64_t>(metrics.memory.totalBytes, 1));
  const double used = static_cast<double>(metrics.memory.usedBytes);
  const double available = static_cast<double>(metrics.memory.availableBytes);
  const double cached = static_cast<double>(metrics.memory.cachedBytes);
  const std::string& pressure = metrics.memory.pressure;
  const double swap = finiteOrZero(metrics.memory.swapOutsPerSecond);
  const std::string& thermal = metrics.thermalState;
  const double freeGB = text_format::freeGigabytes(metrics);
  const double coreCount = static_cast<double>(cores);
  const std::string coresText = std::to_string(cores);

  Judgement j;

  if (usage > 0.95 && load > 2 * coreCount)
    j.fire(LoadLevel::critical,
           "CPU saturated: " + percent(usage) + " used, load " + oneDecimal(load) + " on " +
               coresText + " cores",
           "процессор забит: " + percent(usage));
  else if (usage > 0.85)
    j.fire(LoadLevel::overloaded, "CPU " + percent(usage) + " used", "процессор " + percent(usage));
  else if (usage > 0.6)
    j.fire(LoadLevel::busy, "CPU " + percent(usage) + " used", "процессор " + percent(usage));

  if (pressure == "critical")
    j.fire(LoadLevel::critical, "memory pressure critical", "критическая нехватка памяти");
  else if (pressure == "warning")
    j.fire(LoadLevel::overloaded, "memory pressure warning", "не хватает памяти");
  else if (used / total > 0.85)
    j.fire(LoadLevel::busy,
           "memory " + percent(used / total) + " used, " + oneDecimal(available / GiB) +
               " GB available",
           "память занята на " + percent(used / total));

  if (swap > 500)
    j.fire(LoadLevel::overloaded,
           "swapping heavily (" + std::to_string(truncated(swap)) + " pages/s)",
           "активная запись в своп");
  else if (swap > 50)
    j.fire(LoadLevel::busy, "swapping (" + std::to_string(truncated(swap)) + " pages/s)",
           "запись в своп");

  if (thermal == "critical")
    j.fire(LoadLevel::critical, "thermal state critical, CPU is throttled",
           "перегрев, частота сильно снижена");
  else if (thermal == "serious")
    j.fire(LoadLevel::overloaded, "thermal state serious, CPU is throttled",
           "горячий, частота снижена");
  else if (thermal == "fair")
    j.fire(LoadLevel::busy, "thermal state fair", "тёплый");

  // A saturated CPU already explains a long queue; only an idle-ish CPU with
  // many waiting processes points at blocked I/O.
  if (load > 4 * coreCount && usage <= 0.95) {
    const std::string queue = std::to_string(truncated(load));
    j.fire(LoadLevel::overloaded,
           "load average " + queue + " on " + coresText +
               " cores: many processes waiting (often hung I/O)",
           "очередь " + queue + " процессов на " + coresText + " ядер");
  }

  const bool simulatorHung = std::any_of(hung.begin(), hung.end(), looksLikeEmulator);
  const std::string sim =
      simulatorHung ? " (" + std::string(platform::emulatorName()) + ")" : std::string();
  const bool hungReported = hung.size() >= 3;
  if (hungReported) {
    const std::string count = std::to_string(hung.size());
    j.fire(LoadLevel::overloaded, count + " processes hung in the kernel" + sim,
           count + " процессов зависли" + sim);
  }

  const std::string freeText = oneDecimal(freeGB);
  const std::string freeWhole = std::to_string(truncated(freeGB));
  if (freeGB < 5)
    j.fire(LoadLevel::critical, "boot disk almost full: " + freeText + " GB free",
           "диск почти заполнен: " + freeWhole + " ГБ");
  else if (freeGB < 15)
    j.fire(LoadLevel::overloaded, "boot disk low: " + freeText + " GB free",
           "мало места на диске: " + freeWhole + " ГБ");
  else if (freeGB < 30)
    j.fire(LoadLevel::busy, "boot disk " + freeText + " GB free", "на диске " + freeWhole + " ГБ");

  const int64_t cpuJobs = truncated(freeCores * 0.5);
  const int64_t memJobs = truncated((cached * 0.5 + available) / bytesPerJob);
  const int64_t cap = perf >= 1 ? perf : 1;
  const int64_t raw = std::max<int64_t>(0, std::min({cap, memJobs, cpuJobs}));
  int64_t jobs = 0;
  int64_t threads = 1;
  switch (j.level) {
    case LoadLevel::critical: jobs = 0; break;
    case LoadLevel::overloaded: jobs = raw >= 1 ? 1 : 0; break;
    case LoadLevel::busy:
    case LoadLevel::ok: jobs = std::max<int64_t>(raw, 1); break;
  }
  if (j.level != LoadLevel::critical)
    threads = std::max<int64_t>(1, std::min(cores, rounded(freeCores)));

  std::vector<AppGroup> candidates;
  for (const auto& app : apps)
    if (isQuitCandidate(app, config)) candidates.push_back(app);

  std::vector<ProcessSample> heavyTasks;
  for (const auto& task : aiTasks) {
    if (heavyTasks.size() == maxHeavyAITasks) break;
    if (finiteOrZero(task.cpuPercent) >= 25 || task.memoryBytes >= halfGiBBytes)
      heavyTasks.push_back(task);
  }

  std::vector<std::string> advice;
  switch (j.level) {
    case LoadLevel::critical:
      advice.push_back(
          machine() +
          " is critically loaded: start nothing heavy. Stop your own stale/runaway processes "
          "(kill_ai_process) and wait (wait_for_capacity).");
      break;
    case LoadLevel::overloaded:
      advice.push_back(
          machine() +
          " is overloaded: do not start parallel builds, simulators or sub-agents; finish or "
          "stop running work first, or call wait_for_capacity.");
      break;
    case LoadLevel::busy:
      advice.push_back(machine() + " is busy: run at most " + std::to_string(jobs) +
                       " heavy job(s) at a time; prefer sequential builds/tests.");
      break;
    case LoadLevel::ok:
      advice.push_back("Capacity available: up to " + std::to_string(jobs) +
                       " heavy job(s) in parallel, " + std::to_string(threads) +
                       " build thread(s).");
      break;
  }

  if (j.level >= LoadLevel::busy && !candidates.empty()) {
    std::vector<std::string> named;
    for (size_t i = 0; i < candidates.size() && i < quitCandidatesNamed; ++i) {
      const auto& app = candidates[i];
      named.push_back(app.name + " (" + oneDecimal(finiteOrZero(app.cpuPercent)) + "% CPU, " +
                      memoryText(app.memoryBytes) + ")");
    }
    advice.push_back("Heavy apps of the owner (not AI): " + joined(named, quitCandidatesNamed) +
                     ". You may propose quitting them with suggest_quit_apps; never kill them "
                     "yourself.");
  }

  if (freeGB < 30)
    advice.push_back(
        "Disk is low: tell the owner; avoid large downloads/builds; call disk_usage "
        "(grew_recently: what took the space lately; advice: what can safely go) and "
        "cleanup_preview, then ask with suggest_cleanup; never delete files yourself.");

  if (simulatorHung)
    advice.push_back(platform::emulatorHungAdvice());
  else if (hungReported)
    advice.push_back("Processes hung in the kernel: " + joined(hung, hungNamesListed) +
                     ". Usually a stuck disk image or network volume; avoid touching it.");

  if (metrics.lowPowerMode) advice.push_back("Low Power Mode is on: CPU is slower than usual.");

  if (candidates.size() > maxQuitCandidates) candidates.resize(maxQuitCandidates);

  Assessment result;
  result.level = j.level;
  result.reasons = std::move(j.reasons);
  result.reasonsRu = std::move(j.reasonsRu);
  result.recommendedParallelJobs = jobs;
  result.recommendedBuildThreads = threads;
  result.advice = std::move(advice);
  result.quitCandidates = std::move(candidates);
  result.heavyAITasks = std::move(heavyTasks);
  result.hungProcesses = hung;
  return result;
}

}  // namespace norvo
