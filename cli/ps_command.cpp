// `zemnorvo ps` and `zemnorvo explain PID`: the classified processes of this
// machine, and the reasoning behind the category of one of them.
#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.hpp"
#include "core/assess/text_format.hpp"
#include "core/measure/classifier.hpp"
#include "core/records/json_codec.hpp"
#include "core/sampling/sampler.hpp"

namespace norvo::cli {

namespace {

std::string megabytes(uint64_t bytes) {
  return fmt::format("{:.1f}", static_cast<double>(bytes) / (1024.0 * 1024.0));
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
    // Two ticks of the loop's own sampler `interval` apart, so that CPU shares
    // mean something and the processes are classified and ordered exactly as
    // the status shows them, orphans remembered in the lineage included.
    Sampler sampler(NorvoConfig::load());
    sampler.sample();
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    sampler.sample();
    const auto& samples = sampler.lastSamples();
    if (json) {
      auto& source = ProcessTable::shared().source();
      auto apps =
          ProcessTable::appGroups(samples, sampler.lastReadings(),
                                  [&](const std::string& b) { return source.bundleIdentifier(b); });
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
                  agent.c_str(), text_format::printable(s.name).c_str());
    }
  });

  auto* explain = app.add_subcommand("explain", "Say why a process has its category");
  static int32_t pid = 0;
  explain->add_option("pid", pid, "Process id")->required();
  explain->callback([] {
    auto text = Classifier::explain(pid);
    if (text == "no such pid") {
      std::fprintf(stderr, "zemnorvo explain: no process with pid %d\n", pid);
      throw CLI::RuntimeError(1);
    }
    std::printf("%s\n", text.c_str());
  });
}

}  // namespace norvo::cli
