#include "core/measure/sensors.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>

#include "core/platform/system_source.hpp"

namespace norvo {

namespace ss = platform::sensor_source;
using platform::TemperatureRole;

SensorCounters SensorCounters::now(const platform::Roots& roots) {
  SensorCounters c;
  auto disk = ss::diskTotals(roots);
  c.diskRead = disk.readBytes;
  c.diskWrite = disk.writtenBytes;
  c.energy = ss::energyCounters(roots);
  c.time = platform::system_source::uptimeSeconds();
  c.interfaces = Network::counters(roots);
  return c;
}

double Sensors::oneDecimal(double value) { return std::round(value * 10.0) / 10.0; }

bool Sensors::plausibleControllerTemperature(double c) { return c > 5 && c < 130; }

namespace {

std::optional<double> average(const std::vector<double>& v) {
  if (v.empty()) return std::nullopt;
  double sum = 0;
  for (double x : v) sum += x;
  return sum / static_cast<double>(v.size());
}

std::vector<double> kept(const std::vector<double>& values) {
  std::vector<double> out;
  for (double v : values)
    if (Sensors::plausibleControllerTemperature(v)) out.push_back(v);
  return out;
}

std::vector<double> withRole(const std::vector<platform::TemperatureReading>& sensors,
                             TemperatureRole role) {
  std::vector<double> out;
  for (const auto& s : sensors)
    if (s.role == role) out.push_back(s.celsius);
  return out;
}

// The distinct sources of the plausible readings of one role, in order. A
// reading's name starts with the chip or thermal zone that gave it.
std::optional<std::string> sourcesOf(const std::vector<platform::TemperatureReading>& sensors,
                                     TemperatureRole role) {
  std::vector<std::string> seen;
  for (const auto& s : sensors) {
    if (s.role != role || !Sensors::plausibleControllerTemperature(s.celsius)) continue;
    std::string source = s.name.substr(0, s.name.find(' '));
    if (std::find(seen.begin(), seen.end(), source) == seen.end()) seen.push_back(source);
  }
  if (seen.empty()) return std::nullopt;
  std::string out = seen.front();
  for (size_t i = 1; i < seen.size(); ++i) out += ", " + seen[i];
  return out;
}

}  // namespace

Sensors::TemperatureFigures Sensors::temperatures(
    const std::vector<double>& smcProcessor, const std::vector<double>& smcGpu,
    const std::vector<platform::TemperatureReading>& sensors) {
  TemperatureFigures t;

  // The listed sensors: one entry per name, averaged; 0 < value < 150.
  std::map<std::string, std::vector<double>> byName;
  for (const auto& s : sensors)
    if (s.celsius > 0 && s.celsius < 150) byName[s.name].push_back(s.celsius);
  for (const auto& [name, values] : byName)
    t.temperatures.push_back({name, oneDecimal(*average(values))});

  // Dedicated processor sensors count like the controller's processor keys
  // when the controller has none.
  auto processor = kept(smcProcessor);
  if (!processor.empty()) {
    t.cpuSource = "smc";
  } else {
    processor = kept(withRole(sensors, TemperatureRole::processor));
    t.cpuSource = sourcesOf(sensors, TemperatureRole::processor);
  }
  if (!processor.empty()) {
    t.cpuCelsius = oneDecimal(*average(processor));
    t.cpuMaxCelsius = oneDecimal(*std::max_element(processor.begin(), processor.end()));
  } else {
    std::optional<double> best;
    for (const auto& e : t.temperatures) {
      if (e.name.find("ACC") == std::string::npos && e.name.find("tdie") == std::string::npos)
        continue;
      if (!best || e.celsius > *best) t.cpuSource = e.name;
      best = std::max(best.value_or(e.celsius), e.celsius);
    }
    // A firmware zone sits on the board, not the die, and lags or sticks:
    // only when nothing closer to the processor reads at all.
    if (!best) {
      for (double v : kept(withRole(sensors, TemperatureRole::processorFallback)))
        best = std::max(best.value_or(v), v);
      if (best) t.cpuSource = sourcesOf(sensors, TemperatureRole::processorFallback);
    }
    if (best) t.cpuCelsius = oneDecimal(*best);
  }

  auto gpu = kept(smcGpu);
  if (!gpu.empty()) {
    t.gpuSource = "smc";
  } else {
    gpu = kept(withRole(sensors, TemperatureRole::gpu));
    t.gpuSource = sourcesOf(sensors, TemperatureRole::gpu);
  }
  if (!gpu.empty()) {
    t.gpuCelsius = oneDecimal(*average(gpu));
  } else {
    for (const auto& e : t.temperatures) {
      if (e.name.find("GPU") == std::string::npos) continue;
      if (!t.gpuCelsius || e.celsius > *t.gpuCelsius) t.gpuSource = e.name;
      t.gpuCelsius = std::max(t.gpuCelsius.value_or(e.celsius), e.celsius);
    }
  }
  if (!t.cpuCelsius) t.cpuSource.reset();
  if (!t.gpuCelsius) t.gpuSource.reset();

  for (const auto& e : t.temperatures) {
    std::string lower = e.name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("battery") != std::string::npos || e.name.find("gas gauge") != std::string::npos)
      continue;
    t.socMaxCelsius = std::max(t.socMaxCelsius.value_or(e.celsius), e.celsius);
  }
  return t;
}

SensorReport::Battery Sensors::battery(const platform::BatteryReading& r) {
  SensorReport::Battery b;
  int64_t current = r.currentCapacity.value_or(0);
  int64_t max = r.maxCapacity.value_or(100);
  b.percent = max == 0 ? current : current * 100 / max;
  b.charging = r.charging;
  b.onAC = r.onAC;
  if (r.minutesToEmpty && *r.minutesToEmpty >= 1) b.minutesLeft = r.minutesToEmpty;
  b.cycleCount = r.cycleCount;
  if (r.fullChargeCapacity && r.designCapacity && *r.designCapacity >= 1) {
    double health =
        static_cast<double>(*r.fullChargeCapacity) * 100.0 / static_cast<double>(*r.designCapacity);
    b.healthPercent = std::min<int64_t>(100, std::llround(health));
  }
  b.celsius = r.celsius;
  if (r.adapterWatts && *r.adapterWatts >= 1) b.adapterWatts = std::llround(*r.adapterWatts);
  return b;
}

double Sensors::interval(const SensorCounters& previous, const SensorCounters& current) {
  double d = current.time - previous.time;
  return d > 0.001 ? d : 0.001;  // also catches NaN
}

double Sensors::rate(uint64_t before, uint64_t after, double seconds) {
  if (after < before || !(seconds > 0)) return 0;
  return static_cast<double>(after - before) / seconds;
}

std::optional<double> Sensors::energyWatts(
    const std::map<std::string, platform::EnergyCounter>& before,
    const std::map<std::string, platform::EnergyCounter>& after, double seconds) {
  if (!(seconds > 0)) return std::nullopt;
  auto inBoth = [&](bool platformOnly) {
    std::optional<double> joules;
    for (const auto& [zone, now] : after) {
      if (platformOnly && !now.wholePlatform) continue;
      auto it = before.find(zone);
      if (it == before.end()) continue;
      const auto& then = it->second;
      uint64_t delta;
      if (now.microjoules >= then.microjoules) {
        delta = now.microjoules - then.microjoules;
      } else if (now.rangeMicrojoules > 0 && then.microjoules <= now.rangeMicrojoules) {
        delta = now.rangeMicrojoules - then.microjoules + now.microjoules;
      } else {
        continue;  // reset, or a wrap we cannot measure
      }
      joules = joules.value_or(0) + static_cast<double>(delta) / 1e6;
    }
    return joules;
  };
  // A package zone is the processor alone; reported as the machine's power
  // it would hide the display, disks and the rest of the board.
  auto joules = inBoth(true);
  if (!joules) return std::nullopt;
  return *joules / seconds;
}

// Without a controller, Linux has no single whole-system figure. While the
// battery alone feeds the machine its discharge power is exactly that. On
// external power the RAPL "psys" zone covers the whole platform where the
// processor offers it; otherwise there is no whole-system reading and the
// figure stays absent.
std::optional<double> Sensors::systemWatts(std::optional<double> controller,
                                           std::optional<double> batteryDischarge,
                                           std::optional<double> energy) {
  for (auto w : {controller, batteryDischarge, energy})
    if (w && *w > 0 && *w < 1000) return w;
  return std::nullopt;
}

double Sensors::uptimeSeconds(std::optional<int64_t> bootTime, double nowSince1970,
                              double systemUptime) {
  if (bootTime) return nowSince1970 - static_cast<double>(*bootTime);
  return systemUptime;
}

namespace {

struct Identity {
  std::string model, chip, osVersion;
};

// Model, chip and system version do not change while the program runs; read
// once per set of roots rather than every tick (cpuinfo alone is long).
const Identity& identity(const platform::Roots& roots) {
  static std::mutex lock;
  static std::map<std::string, Identity> known;
  std::string key = roots.sys.string() + '\n' + roots.proc.string() + '\n' + roots.etc.string();
  std::lock_guard guard(lock);
  auto it = known.find(key);
  if (it == known.end()) {
    it = known
             .emplace(key, Identity{ss::model(roots), ss::chip(roots).value_or(""),
                                    ss::osVersion(roots).value_or("")})
             .first;
  }
  return it->second;
}

}  // namespace

SensorReport Sensors::read(const std::optional<SensorCounters>& since, const SensorCounters& now) {
  return read(since, now, platform::Roots::system(), SMC::shared());
}

SensorReport Sensors::read(const std::optional<SensorCounters>& since, const SensorCounters& now,
                           const platform::Roots& roots, SMC* smc) {
  SensorReport report;
  std::optional<double> dt;
  if (since) dt = interval(*since, now);
  std::optional<Network::Counters> before;
  if (since) before = since->interfaces;

  auto [in, out] = Network::totals(before, now.interfaces, dt);
  report.networkInBytesPerSec = in;
  report.networkOutBytesPerSec = out;

  auto sensors = ss::temperatures(roots);

  std::vector<double> smcProcessor, smcGpu;
  std::optional<double> pstr;
  if (smc) {
    std::lock_guard guard(SMC::trafficLock());
    report.fans = FanInfo::read(*smc);
    pstr = smc->number("PSTR");
    const auto& keys = smc->temperatureKeys();
    for (const auto& k : keys.processor)
      if (auto v = smc->number(k)) smcProcessor.push_back(*v);
    for (const auto& k : keys.gpu)
      if (auto v = smc->number(k)) smcGpu.push_back(*v);
  } else {
    report.fans = ss::fans(roots);
  }
  report.hasFans = !report.fans.empty();

  const auto& id = identity(roots);
  report.model = id.model;
  report.chip = id.chip;
  report.osVersion = id.osVersion;
  double epoch =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  report.uptimeSeconds =
      uptimeSeconds(ss::bootTime(roots), epoch, platform::system_source::uptimeSeconds());

  auto t = temperatures(smcProcessor, smcGpu, sensors);
  report.cpuCelsius = t.cpuCelsius;
  report.cpuMaxCelsius = t.cpuMaxCelsius;
  report.gpuCelsius = t.gpuCelsius;
  report.socMaxCelsius = t.socMaxCelsius;
  report.cpuSource = std::move(t.cpuSource);
  report.gpuSource = std::move(t.gpuSource);
  report.temperatures = std::move(t.temperatures);

  report.gpuPercent = ss::gpuPercent(roots);

  auto batteryReading = ss::battery(roots);
  if (batteryReading) report.battery = battery(*batteryReading);
  std::optional<double> energy;
  if (since && dt) energy = energyWatts(since->energy, now.energy, *dt);
  report.systemWatts =
      systemWatts(pstr, batteryReading ? batteryReading->dischargeWatts : std::nullopt, energy);

  report.connections = Network::connections(before, now.interfaces, dt, roots);

  if (since && dt) {
    report.diskReadBytesPerSec = rate(since->diskRead, now.diskRead, *dt);
    report.diskWriteBytesPerSec = rate(since->diskWrite, now.diskWrite, *dt);
  }
  return report;
}

}  // namespace norvo
