#include "cli/tables.hpp"

#include <fmt/format.h>

#include <cmath>

#include "core/assess/text_format.hpp"

namespace norvo::cli {

namespace {

using text_format::printable;

std::string row(std::string_view label, std::string_view value) {
  return fmt::format("{:<13}{}\n", label, value);
}

std::string celsius(double value) { return fmt::format("{:.1f} °C", value); }

}  // namespace

std::string binaryBytes(double bytes) {
  if (!std::isfinite(bytes) || bytes < 0) bytes = 0;
  static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 5) {
    bytes /= 1024;
    ++unit;
  }
  return unit == 0 ? fmt::format("{:.0f} B", bytes) : fmt::format("{:.1f} {}", bytes, units[unit]);
}

std::string metricsTable(const SystemMetrics& m) {
  std::string out;
  const auto& c = m.cpu;
  out += row("Processor",
             fmt::format("{} busy · {:.1f} of {} cores free · load {:.2f} / {:.2f}",
                         text_format::percent(c.usage), text_format::finiteOrZero(c.freeCores),
                         c.logicalCores, c.loadAverage1m, c.loadAverage5m));
  if (c.efficiencyCores > 0)
    out += row("", fmt::format("{} performance and {} efficiency cores", c.performanceCores,
                               c.efficiencyCores));
  const auto& mem = m.memory;
  out += row("Memory",
             fmt::format("{} used of {} · {} available · pressure {}",
                         binaryBytes(double(mem.usedBytes)), binaryBytes(double(mem.totalBytes)),
                         binaryBytes(double(mem.availableBytes)), mem.pressure));
  out += row("", fmt::format("apps {} · kernel {} · compressed {} · cache {}",
                             binaryBytes(double(mem.appBytes)), binaryBytes(double(mem.wiredBytes)),
                             binaryBytes(double(mem.compressedBytes)),
                             binaryBytes(double(mem.cachedBytes))));
  out += row("Swap", fmt::format("{} used of {} · {:.1f} pages out/s",
                                 binaryBytes(double(mem.swapUsedBytes)),
                                 binaryBytes(double(mem.swapTotalBytes)),
                                 text_format::finiteOrZero(mem.swapOutsPerSecond)));
  out += row("Thermal", m.thermalState);
  for (size_t i = 0; i < m.volumes.size(); ++i) {
    const auto& v = m.volumes[i];
    out += row(i == 0 ? "Volumes" : "",
               fmt::format("{} free of {}  {}", binaryBytes(double(v.freeBytes)),
                           binaryBytes(double(v.totalBytes)), printable(v.path)));
  }
  return out;
}

std::string sensorsTable(const SensorReport& r) {
  std::string out;
  out += row("Model", printable(r.model) + (r.chip.empty() ? "" : " · " + printable(r.chip)));
  if (!r.osVersion.empty()) out += row("System", printable(r.osVersion));
  out += row("Up", fmt::format("{:.1f} h", r.uptimeSeconds / 3600));
  if (r.cpuCelsius)
    out += row("Processor",
               celsius(*r.cpuCelsius) +
                   (r.cpuMaxCelsius ? " (hottest " + celsius(*r.cpuMaxCelsius) + ")" : ""));
  if (r.gpuPercent || r.gpuCelsius) {
    std::string gpu = r.gpuPercent ? fmt::format("{} % busy", *r.gpuPercent) : "";
    if (r.gpuCelsius) gpu += (gpu.empty() ? "" : " · ") + celsius(*r.gpuCelsius);
    out += row("GPU", gpu);
  }
  if (r.systemWatts) out += row("Power", fmt::format("{:.1f} W", *r.systemWatts));
  if (r.battery) {
    const auto& b = *r.battery;
    std::string text =
        fmt::format("{} %{}", b.percent, b.charging ? ", charging" : (b.onAC ? ", on AC" : ""));
    if (b.minutesLeft)
      text += fmt::format(", {} h {} min left", *b.minutesLeft / 60, *b.minutesLeft % 60);
    out += row("Battery", text);
  }
  if (r.fans.empty()) {
    out += row("Fans", "none reported");
  } else {
    for (size_t i = 0; i < r.fans.size(); ++i) {
      const auto& f = r.fans[i];
      out +=
          row(i == 0 ? "Fans" : "", fmt::format("fan {}: {:.0f} rpm ({:.0f}–{:.0f}){}", f.id, f.rpm,
                                                f.minRPM, f.maxRPM, f.manual ? ", manual" : ""));
    }
  }
  out += row("Disks", fmt::format("read {}/s · write {}/s", binaryBytes(r.diskReadBytesPerSec),
                                  binaryBytes(r.diskWriteBytesPerSec)));
  out += row("Network", fmt::format("in {}/s · out {}/s", binaryBytes(r.networkInBytesPerSec),
                                    binaryBytes(r.networkOutBytesPerSec)));
  for (size_t i = 0; i < r.temperatures.size(); ++i)
    out += row(i == 0 ? "Sensors" : "",
               printable(r.temperatures[i].name) + " " + celsius(r.temperatures[i].celsius));
  return out;
}

}  // namespace norvo::cli
