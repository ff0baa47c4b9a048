#include "core/sampling/sampler.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_set>

#include "core/assess/advisor.hpp"
#include "core/assess/health.hpp"
#include "core/measure/classifier.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"
#include "core/platform/system_source.hpp"

namespace norvo {

namespace fs = std::filesystem;

namespace {

constexpr double kProcessDeadline = 2.0;

std::string lastComponentWithoutExtension(const std::string& path) {
  fs::path p(path);
  while (p.has_relative_path() && p.filename().empty()) p = p.parent_path();
  return p.stem().string();
}

}  // namespace

Sampler::Sampler(NorvoConfig config) : Sampler(std::move(config), Environment{}) {}

Sampler::Sampler(NorvoConfig cfg, Environment environment)
    : config(std::move(cfg)), env_(std::move(environment)) {
  if (env_.storeDirectory.empty()) env_.storeDirectory = NorvoStore::directory();
  if (env_.selfPid == 0) env_.selfPid = static_cast<int32_t>(::getpid());
}

ProcessTable& Sampler::table() { return env_.table ? *env_.table : ProcessTable::shared(); }

double Sampler::weight(const ProcessSample& sample, const SystemMetrics& metrics) {
  return Advisor::impact(sample.cpuPercent, sample.memoryBytes, metrics);
}

std::vector<ProcessSample> Sampler::heaviest(const std::vector<ProcessSample>& sorted,
                                             size_t perAxis) {
  std::vector<const ProcessSample*> byCpu, byMemory;
  for (const auto& s : sorted) {
    byCpu.push_back(&s);
    byMemory.push_back(&s);
  }
  size_t n = std::min(perAxis, sorted.size());
  std::partial_sort(byCpu.begin(), byCpu.begin() + static_cast<std::ptrdiff_t>(n), byCpu.end(),
                    [](auto* a, auto* b) { return a->cpuPercent > b->cpuPercent; });
  std::partial_sort(byMemory.begin(), byMemory.begin() + static_cast<std::ptrdiff_t>(n),
                    byMemory.end(),
                    [](auto* a, auto* b) { return a->memoryBytes > b->memoryBytes; });
  std::unordered_set<const ProcessSample*> chosen(byCpu.begin(), byCpu.begin() + n);
  chosen.insert(byMemory.begin(), byMemory.begin() + n);
  std::vector<ProcessSample> out;
  for (const auto& s : sorted)
    if (chosen.count(&s)) out.push_back(s);
  return out;
}

bool Sampler::shouldWriteLineage(const Lineage& loaded, const Lineage& fresh, bool fileExists) {
  if (fresh == loaded) return false;
  return !(fresh.empty() && !fileExists);
}

std::optional<Lineage> Sampler::loadLineage(const fs::path& storeDirectory) {
  return record_file::read<Lineage>(storeDirectory / "lineage.json", record_file::Links::refuse);
}

NorvoSnapshot Sampler::sample() {
  using platform::system_source::uptimeSeconds;
  double uptime = uptimeSeconds();
  SystemReading current = SystemReading::now(env_.roots);
  ProcessReadings readings = table().read(std::chrono::duration<double>(kProcessDeadline));
  SystemMetrics metrics =
      SystemMetrics::between(lastSystem_.value_or(current), current, env_.roots);
  double elapsed = lastSystem_ ? uptime - lastTime_ : 0;

  fs::path lineageFile = env_.storeDirectory / "lineage.json";
  // A readable lineage means the file exists; no second look at the disk.
  auto loadedLineage = loadLineage(env_.storeDirectory);
  Lineage lineage = loadedLineage.value_or(Lineage{});

  Classifier classifier(config, readings, env_.selfPid, table().source().currentUid());
  Lineage freshLineage;
  std::vector<ProcessSample> samples;
  std::vector<std::pair<std::string, ProcessSample>> watchPairs;
  // Zombies come from the same reading of /proc as everything else: a second
  // pass over thousands of processes would cost as much as the first.
  std::vector<ZombieReport::Entry> zombieEntries;
  zombieEntries.reserve(readings.size());
  samples.reserve(readings.size());
  for (const auto& [pid, reading] : readings) {
    zombieEntries.push_back({reading.pid, reading.ppid, reading.command, reading.state == 'Z'});
    std::string key = reading.key();
    std::optional<int32_t> remembered;
    if (auto it = lineage.find(key); it != lineage.end()) remembered = it->second;
    auto result = classifier.classify(reading, remembered);
    if (result.category == ProcessCategory::aiTask && result.agentPid)
      freshLineage[key] = *result.agentPid;

    ProcessSample s;
    s.pid = reading.pid;
    s.ppid = reading.ppid;
    s.name = reading.name;
    s.path = reading.path;
    s.arguments = reading.arguments;
    auto previous = lastProcesses_.find(pid);
    s.cpuPercent = ProcessTable::cpuPercent(
        reading, previous == lastProcesses_.end() ? nullptr : &previous->second, elapsed);
    s.memoryBytes = reading.footprintBytes.value_or(0);
    s.category = result.category;
    s.agentPid = result.agentPid;
    s.orphaned = result.orphaned;
    // Shown by the name people know (a desktop entry's "Name"), not its file.
    if (auto bundle = ProcessTable::owningBundle(reading, readings))
      s.appName =
          table().source().appName(*bundle).value_or(lastComponentWithoutExtension(*bundle));
    // The watch needs only busy processes and those it already tracks; the
    // rest would be copied for nothing.
    if (elapsed > 0 &&
        (s.cpuPercent >= LongCPUWatch::busyPercent || longCPUWatch_.tracks.count(key)))
      watchPairs.emplace_back(key, s);
    samples.push_back(std::move(s));
  }

  if (shouldWriteLineage(lineage, freshLineage, loadedLineage.has_value()))
    record_file::write(freshLineage, lineageFile);

  lastSystem_ = current;
  lastProcesses_ = std::move(readings);
  lastTime_ = uptime;

  // Ties broken by pid so that equal weights keep a stable order between ticks.
  // Weighed once per sample, not once per comparison: this runs every tick
  // over every process.
  std::vector<std::pair<double, size_t>> order;
  order.reserve(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) order.emplace_back(weight(samples[i], metrics), i);
  std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first > b.first;
    return samples[a.second].pid < samples[b.second].pid;
  });
  std::vector<ProcessSample> sorted;
  sorted.reserve(samples.size());
  for (const auto& [w, i] : order) sorted.push_back(std::move(samples[i]));
  samples = std::move(sorted);

  NorvoSnapshot snapshot;
  const auto& source = table().source();
  snapshot.apps = ProcessTable::appGroups(samples, lastProcesses_, [&](const std::string& bundle) {
    return source.bundleIdentifier(bundle);
  });
  snapshot.processes = heaviest(samples);
  for (const auto& s : samples)
    if (s.category == ProcessCategory::aiTask) snapshot.aiTasks.push_back(s);

  std::vector<std::string> hung;
  for (const auto& [key, name] : table().hung()) hung.push_back(name);
  std::sort(hung.begin(), hung.end());

  snapshot.assessment = Advisor::assess(metrics, snapshot.apps, snapshot.aiTasks, hung, config);

  SensorCounters counters = SensorCounters::now(env_.roots);
  snapshot.sensors = Sensors::read(lastCounters_, counters, env_.roots,
                                   env_.readController ? SMC::shared() : nullptr);
  lastCounters_ = std::move(counters);

  snapshot.longCPU = elapsed > 0
                         ? longCPUWatch_.update(watchPairs, std::chrono::system_clock::now())
                         : std::vector<LongCPUProcess>{};
  std::sort(zombieEntries.begin(), zombieEntries.end(),
            [](const auto& a, const auto& b) { return a.pid < b.pid; });
  snapshot.zombies = ZombieReport::tally(zombieEntries);
  snapshot.health = Health::assess(metrics, static_cast<int64_t>(hung.size()), snapshot.sensors,
                                   snapshot.zombies, *snapshot.longCPU);

  if (snapshot.apps.size() > 20) snapshot.apps.resize(20);
  if (snapshot.aiTasks.size() > 40) snapshot.aiTasks.resize(40);
  snapshot.metrics = std::move(metrics);
  lastSamples_ = std::move(samples);
  return snapshot;
}

NorvoSnapshot Sampler::measure(double seconds, const NorvoConfig& config) {
  return measure(seconds, config, Environment{});
}

NorvoSnapshot Sampler::measure(double seconds, const NorvoConfig& config, Environment environment) {
  Sampler sampler(config, std::move(environment));
  sampler.sample();
  // NaN and negative waits count as the minimum too.
  std::this_thread::sleep_for(
      std::chrono::duration<double>(seconds > 0.1 ? std::min(seconds, 60.0) : 0.1));
  return sampler.sample();
}

}  // namespace norvo
