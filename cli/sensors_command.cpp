#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.hpp"
#include "cli/tables.hpp"
#include "core/assess/compact.hpp"
#include "core/measure/sensors.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::cli {

void addSensorsCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "sensors", "Show temperatures, fans, power, battery, GPU, disk and network figures");
  static double interval = 1.0;
  static bool json = false;
  cmd->add_flag("--json", json,
                "Print them as JSON, in the form agents read (gpu_percent, gpu_c, …)");
  cmd->add_option("--interval", interval, "Seconds between the two readings")
      ->check(CLI::Range(0.05, 10.0));
  cmd->callback([] {
    auto first = SensorCounters::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    auto report = Sensors::read(first, SensorCounters::now());
    if (json)
      std::printf("%s\n", Compact::json(Compact::sensors(report)).c_str());
    else
      std::fputs(sensorsTable(report).c_str(), stdout);
  });
}

}  // namespace norvo::cli
