#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.hpp"
#include "core/measure/sensors.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::cli {

void addSensorsCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "sensors", "Print temperatures, fans, power, battery, disk and network figures as JSON");
  static double interval = 1.0;
  cmd->add_option("--interval", interval, "Seconds between the two readings")
      ->check(CLI::Range(0.05, 10.0));
  cmd->callback([] {
    auto first = SensorCounters::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    auto report = Sensors::read(first, SensorCounters::now());
    std::printf("%s\n", json_codec::encode(nlohmann::json(report)).c_str());
  });
}

}  // namespace norvo::cli
