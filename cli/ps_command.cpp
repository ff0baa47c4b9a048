// `zemnorvo ps` and `zemnorvo explain PID`: the classified processes of this
// machine, and the reasoning behind the category of one of them.
#include <fmt/format.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/commands.hpp"
#include "core/assess/text_format.hpp"
#include "core/measure/classifier.hpp"
#include "core/records/json_codec.hpp"
#include "core/sampling/sampler.hpp"

namespace norvo::cli {

namespace {

std::string mebibytes(uint64_t bytes) {
  return fmt::format("{:.1f}", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

std::string userName(uint32_t uid) {
  if (const passwd* pw = ::getpwuid(uid); pw && pw->pw_name) return pw->pw_name;
  return std::to_string(uid);
}

// The category's colour on a terminal: the agents' work stands out, the
// system recedes.
const char* colourOf(ProcessCategory category) {
  switch (category) {
    case ProcessCategory::aiAgent: return "\033[35m";
    case ProcessCategory::aiInfra: return "\033[36m";
    case ProcessCategory::aiTask: return "\033[33m";
    case ProcessCategory::userApp: return "\033[32m";
    case ProcessCategory::system: return "\033[2m";
  }
  return "";
}

}  // namespace

void addPsCommand(CLI::App& app) {
  auto* ps = app.add_subcommand("ps", "List the processes, heaviest first, with their categories");
  static bool json = false;
  static double interval = 0.5;
  static std::string sortBy = "cpu";
  static int64_t limit = 0;
  static bool mine = false;
  ps->add_flag("--json", json, "Print the processes and app groups as JSON");
  ps->add_option("--sort", sortBy, "cpu (heaviest first), mem, pid or name")
      ->check(CLI::IsMember({"cpu", "mem", "pid", "name"}))
      ->capture_default_str();
  ps->add_option("--limit", limit, "Show at most N processes")->check(CLI::PositiveNumber);
  ps->add_flag("--user", mine, "Only the calling user's processes");
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
    const auto& readings = sampler.lastReadings();
    auto uidOf = [&](int32_t pid) -> std::optional<uint32_t> {
      auto it = readings.find(pid);
      if (it == readings.end()) return std::nullopt;
      return it->second.uid;
    };
    std::vector<ProcessSample> samples;
    for (const auto& s : sampler.lastSamples())
      if (!mine || uidOf(s.pid) == static_cast<uint32_t>(::getuid())) samples.push_back(s);
    // The sampler's own order is the heaviest first; the others are for people.
    if (sortBy == "mem")
      std::stable_sort(samples.begin(), samples.end(),
                       [](const auto& a, const auto& b) { return a.memoryBytes > b.memoryBytes; });
    else if (sortBy == "pid")
      std::stable_sort(samples.begin(), samples.end(),
                       [](const auto& a, const auto& b) { return a.pid < b.pid; });
    else if (sortBy == "name")
      std::stable_sort(samples.begin(), samples.end(),
                       [](const auto& a, const auto& b) { return a.name < b.name; });
    if (limit > 0 && samples.size() > static_cast<size_t>(limit))
      samples.resize(static_cast<size_t>(limit));
    if (json) {
      auto& source = ProcessTable::shared().source();
      auto apps = ProcessTable::appGroups(
          samples, readings, [&](const std::string& b) { return source.bundleIdentifier(b); });
      nlohmann::json out = {{"processes", samples}, {"apps", apps}};
      std::printf("%s\n", json_codec::encode(out).c_str());
      return;
    }
    bool colour = ::isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR");
    std::printf("%7s %7s %-10s %6s %9s  %-9s %7s  %s\n", "PID", "PPID", "USER", "CPU%", "MEM MiB",
                "CATEGORY", "AGENT", "NAME");
    for (const auto& s : samples) {
      std::string agent = s.agentPid ? std::to_string(*s.agentPid) + (s.orphaned ? "!" : "") : "-";
      auto uid = uidOf(s.pid);
      std::printf("%7d %7d %-10.10s %6.1f %9s  %s%-9s%s %7s  %s\n", s.pid, s.ppid,
                  uid ? userName(*uid).c_str() : "?", s.cpuPercent,
                  mebibytes(s.memoryBytes).c_str(), colour ? colourOf(s.category) : "",
                  std::string(rawValue(s.category)).c_str(), colour ? "\033[0m" : "", agent.c_str(),
                  text_format::printable(s.name).c_str());
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
