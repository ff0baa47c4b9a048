// Readable forms of the machine's figures for people at a terminal; scripts
// ask for --json. Sizes in binary units, labelled as such (GiB, MiB), rates
// per second, temperatures in degrees Celsius, all rounded for reading.
#pragma once

#include <string>

#include "core/measure/system_metrics.hpp"
#include "core/records/sensor_report.hpp"

namespace norvo::cli {

// "512 B", "3.4 KiB", "12.0 MiB", "1.5 GiB", "2.0 TiB".
std::string binaryBytes(double bytes);

std::string metricsTable(const SystemMetrics& metrics);
std::string sensorsTable(const SensorReport& report);

}  // namespace norvo::cli
