// `zemnorvo ps` and `zemnorvo explain PID`: the classified processes of this
// machine, and the reasoning behind the category of one of them.
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.hpp"
#include "core/measure/classifier.hpp"
#include "core/store/json_codec.hpp"

namespace norvo::cli {

namespace {

std::string megabytes(uint64_t bytes) {
  return fmt::format("{:.1f}", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

// Two readings `interval` apart so that CPU shares mean something; the
// remembered lineage of earlier ticks belongs to the sampler, so orphans are
// only recognised here while their agent is still an ancestor.
std::vector<ProcessSample> classifiedSamples(double interval, ProcessReadings& readings) {
  auto& table = ProcessTable::shared();
  auto first = table.read(std::chrono::seconds(2));
  auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(interval));
  readings = table.read(std::chrono::seconds(2));
  double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Classifier classifier(NorvoConfig::load(), readings, ::getpid(), table.source().currentUid());
  std::vector<ProcessSample> samples;
  for (const auto& [pid, r] : readings) {
    auto previous = first.find(pid);
    auto result = classifier.classify(r, std::nullopt);
    ProcessSample s;
    s.pid = r.pid;
    s.ppid = r.ppid;
    s.name = r.name;
    s.path = r.path;
    s.arguments = r.arguments;
    s.cpuPercent =
        ProcessTable::cpuPercent(r, previous == first.end() ? nullptr : &previous->second, elapsed);
    s.memoryBytes = r.footprintBytes.value_or(0);
    s.category = result.category;
    s.agentPid = result.agentPid;
    s.orphaned = result.orphaned;
    if (s.category == ProcessCategory::userApp || s.category == ProcessCategory::aiAgent) {
      if (auto bundle = ProcessTable::owningBundle(r, readings)) {
        auto name = std::filesystem::path(*bundle).stem().string();
        if (!name.empty()) s.appName = name;
      }
    }
    samples.push_back(std::move(s));
  }
  // Heaviest first, with one percent of a core weighing as much as 50 MB, as
  // the app groups are ordered.
  std::sort(samples.begin(), samples.end(), [](const ProcessSample& a, const ProcessSample& b) {
    double wa = a.cpuPercent * 50'000'000 + static_cast<double>(a.memoryBytes);
    double wb = b.cpuPercent * 50'000'000 + static_cast<double>(b.memoryBytes);
    return wa != wb ? wa > wb : a.pid < b.pid;
  });
  return samples;
}

}  // namespace

void addPsCommand(CLI::App& app) {
  auto* ps = app.add_subcommand("ps", "List the processes, heaviest first, with their categories");
  static bool json = false;
  static double interval = 0.5;
  ps->add_flag("--json", json, "Print the processes and app groups as JSON");
  ps->add_option("--interval", interval, "Seconds between the two readings")
      ->check(CLI::Range(0.05, 10.0));
  ps->callback([] {
    ProcessReadings readings;
    auto samples = classifiedSamples(interval, readings);
    if (json) {
      auto& source = ProcessTable::shared().source();
      auto apps = ProcessTable::appGroups(
          samples, readings, [&](const std::string& b) { return source.bundleIdentifier(b); });
      nlohmann::json out = {{"processes", samples}, {"apps", apps}};
      std::printf("%s\n", json_codec::encode(out).c_str());
      return;
    }
    std::printf("%7s %7s %6s %9s  %-9s %7s  %s\n", "PID", "PPID", "CPU%", "MEM MB", "CATEGORY",
                "AGENT", "NAME");
    for (const auto& s : samples) {
      std::string agent = s.agentPid ? std::to_string(*s.agentPid) + (s.orphaned ? "!" : "") : "-";
      std::printf("%7d %7d %6.1f %9s  %-9s %7s  %s\n", s.pid, s.ppid, s.cpuPercent,
                  megabytes(s.memoryBytes).c_str(), std::string(rawValue(s.category)).c_str(),
                  agent.c_str(), s.name.c_str());
    }
  });

  auto* explain = app.add_subcommand("explain", "Say why a process has its category");
  static int32_t pid = 0;
  explain->add_option("pid", pid, "Process id")->required();
  explain->callback([] {
    auto text = Classifier::explain(pid);
    std::printf("%s\n", text.c_str());
    if (text == "no such pid") throw CLI::RuntimeError(1);
  });
}

}  // namespace norvo::cli
