#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.hpp"
#include "cli/tables.hpp"
#include "core/measure/system_metrics.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::cli {

void addMetricsCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("metrics", "Show processor, memory, swap and volume figures");
  static double interval = 0.5;
  static bool json = false;
  cmd->add_flag("--json", json, "Print the figures as JSON");
  cmd->add_option("--interval", interval, "Seconds between the two readings")
      ->check(CLI::Range(0.05, 10.0));
  cmd->callback([] {
    auto first = SystemReading::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    auto metrics = SystemMetrics::between(first, SystemReading::now());
    if (json)
      std::printf("%s\n", json_codec::encode(nlohmann::json(metrics)).c_str());
    else
      std::fputs(metricsTable(metrics).c_str(), stdout);
  });
}

}  // namespace norvo::cli
