#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.hpp"
#include "cli/tables.hpp"
#include "core/assess/exposition.hpp"
#include "core/measure/system_metrics.hpp"
#include "core/platform/record_file.hpp"
#include "core/records/json_codec.hpp"
#include "core/sampling/sampler.hpp"

namespace norvo::cli {

namespace {

// The whole tick, not only the machine figures: the exposition carries the
// level, the advice figures and the AI process counts. Measured afresh, as
// the other formats are, so that a textfile collector never republishes an
// old status.json from a loop that has stopped.
void printPrometheus(double interval, const std::string& out) {
  Sampler sampler(NorvoConfig::load());
  sampler.sample();
  std::this_thread::sleep_for(std::chrono::duration<double>(interval));
  auto snapshot = sampler.sample();
  auto text = Exposition::render(snapshot, Exposition::countProcesses(sampler.lastSamples()),
                                 Exposition::Format::prometheus);
  if (out.empty()) {
    std::fputs(text.c_str(), stdout);
    return;
  }
  auto written = record_file::writeAtomically(out, text, record_file::Folders::mustExist);
  if (!written) {
    std::fprintf(stderr, "zemnorvo metrics: %s\n", written.error.c_str());
    throw CLI::RuntimeError(1);
  }
}

}  // namespace

void addMetricsCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("metrics", "Show processor, memory, swap and volume figures");
  static double interval = 0.5;
  static bool json = false;
  static std::string format = "table";
  static std::string out;
  cmd->add_flag("--json", json, "Print the figures as JSON");
  cmd->add_option("--interval", interval, "Seconds between the two readings")
      ->check(CLI::Range(0.05, 10.0));
  cmd->add_option("--format", format,
                  "table, json, or prometheus (the text exposition format, with the load "
                  "level, advice figures and AI process counts)")
      ->check(CLI::IsMember({"table", "json", "prometheus"}));
  cmd->add_option("--out", out,
                  "With --format prometheus: replace FILE atomically instead of printing "
                  "(for node_exporter's textfile collector)");
  cmd->callback([] {
    if (!out.empty() && format != "prometheus")
      throw CLI::ValidationError("--out", "needs --format prometheus");
    if (format == "prometheus") return printPrometheus(interval, out);
    auto first = SystemReading::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    auto metrics = SystemMetrics::between(first, SystemReading::now());
    if (json || format == "json")
      std::printf("%s\n", json_codec::encode(nlohmann::json(metrics)).c_str());
    else
      std::fputs(metricsTable(metrics).c_str(), stdout);
  });
}

}  // namespace norvo::cli
