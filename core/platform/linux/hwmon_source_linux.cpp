// Linux counterparts of the sensor reads: identity from DMI, /proc and
// os-release; temperatures and fans from hwmon; the battery from
// power_supply; energy from powercap; GPU load from amdgpu or NVIDIA's
// management library; disk totals from /proc/diskstats.
#include <dlfcn.h>
#include <sensors/sensors.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#include "core/platform/linux/diskstats_parsers.hpp"
#include "core/platform/linux/hwmon_parsers.hpp"
#include "core/platform/linux/identity_parsers.hpp"
#include "core/platform/linux/power_supply_parsers.hpp"
#include "core/platform/linux/process_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/sensor_source.hpp"

namespace norvo::platform::sensor_source {

namespace fs = std::filesystem;
using text_file::readInt;
using text_file::readLine;
using text_file::readText;

namespace {

// Entries of `dir` whose names are `prefix` + a number, in numeric order
// (hwmon2 before hwmon10).
std::vector<std::pair<int, fs::path>> numbered(const fs::path& dir, std::string_view prefix) {
  std::vector<std::pair<int, fs::path>> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    auto name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (auto n = text_file::parseSigned(std::string_view(name).substr(prefix.size())); n && *n >= 0)
      out.emplace_back(static_cast<int>(*n), it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Indices N of the files "<kind>N_input" in a hwmon folder, ascending.
std::vector<int> inputIndices(const fs::path& dir, std::string_view kind) {
  std::vector<int> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    std::string_view name = file;
    constexpr std::string_view suffix = "_input";
    if (name.size() <= kind.size() + suffix.size() || name.substr(0, kind.size()) != kind ||
        name.substr(name.size() - suffix.size()) != suffix)
      continue;
    auto digits = name.substr(kind.size(), name.size() - kind.size() - suffix.size());
    if (auto n = text_file::parseSigned(digits); n && *n >= 0) out.push_back(static_cast<int>(*n));
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool belongsToBattery(const fs::path& hwmonDir) {
  return readLine(hwmonDir / "device/type") == "Battery";
}

std::vector<parse::HwmonChip> sysfsChips(const Roots& roots) {
  std::vector<parse::HwmonChip> chips;
  for (const auto& [n, dir] : numbered(roots.sys / "class/hwmon", "hwmon")) {
    parse::HwmonChip chip;
    chip.name = readLine(dir / "name").value_or("hwmon" + std::to_string(n));
    chip.battery = belongsToBattery(dir);
    for (int i : inputIndices(dir, "temp")) {
      auto prefix = "temp" + std::to_string(i);
      auto text = readText(dir / (prefix + "_input"), 64);
      auto celsius = text ? parse::millidegrees(*text) : std::nullopt;
      if (!celsius) continue;
      chip.inputs.push_back({i, readLine(dir / (prefix + "_label")), *celsius});
    }
    if (!chip.inputs.empty()) chips.push_back(std::move(chip));
  }
  return chips;
}

// On the real machine libsensors reads the same sysfs files but also
// applies the owner's sensors.conf: renamed labels, ignored inputs and the
// corrections some boards need. It cannot be pointed at another tree, so a
// test tree is read directly. Both paths feed the same mapping.
std::optional<std::vector<parse::HwmonChip>> libsensorsChips() {
  static std::mutex lock;  // libsensors keeps global state and is not thread-safe
  static bool initialised = false, failed = false;
  std::lock_guard guard(lock);
  if (failed) return std::nullopt;
  if (!initialised) {
    if (sensors_init(nullptr) != 0) {
      failed = true;
      return std::nullopt;
    }
    initialised = true;
  }
  std::vector<parse::HwmonChip> chips;
  int chipIndex = 0;
  while (const sensors_chip_name* c = sensors_get_detected_chips(nullptr, &chipIndex)) {
    parse::HwmonChip chip;
    chip.name = c->prefix ? c->prefix : "";
    if (c->path) chip.battery = belongsToBattery(c->path);
    int featureIndex = 0;
    while (const sensors_feature* f = sensors_get_features(c, &featureIndex)) {
      if (f->type != SENSORS_FEATURE_TEMP) continue;
      const sensors_subfeature* input = sensors_get_subfeature(c, f, SENSORS_SUBFEATURE_TEMP_INPUT);
      double value = 0;
      if (!input || sensors_get_value(c, input->number, &value) != 0) continue;
      parse::HwmonInput in;
      in.index = f->number + 1;  // libsensors counts from 0, sysfs from 1
      in.celsius = value;
      if (char* label = sensors_get_label(c, f)) {
        // Without a label of its own libsensors answers the feature's name.
        if (f->name == nullptr || std::string_view(label) != f->name) in.label = label;
        std::free(label);
      }
      chip.inputs.push_back(std::move(in));
    }
    if (!chip.inputs.empty()) chips.push_back(std::move(chip));
  }
  return chips;
}

bool isRealSystem(const Roots& roots) { return roots.sys == "/sys"; }

}  // namespace

std::string model(const Roots& roots) {
  fs::path dmi = roots.sys / "class/dmi/id";
  if (auto name = parse::machineModel({readLine(dmi / "sys_vendor"), readLine(dmi / "product_name"),
                                       readLine(dmi / "product_version"),
                                       readLine(dmi / "product_family")}))
    return *name;
  // Boards without DMI (ARM) name themselves in the device tree, NUL-terminated.
  if (auto text = readText(roots.sys / "firmware/devicetree/base/model", 4096)) {
    auto name = std::string(text_file::trim(std::string_view(text->c_str())));
    if (!name.empty()) return name;
  }
  // Virtual machines and containers often have neither; the architecture at
  // least says what kind of machine it is. /proc/sys/kernel/arch is recent
  // (Linux 6.1); uname(2) answers the same everywhere.
  if (auto arch = readLine(roots.proc / "sys/kernel/arch"); arch && !arch->empty()) return *arch;
  utsname names{};
  if (::uname(&names) == 0) return names.machine;
  return "unknown";
}

std::optional<std::string> chip(const Roots& roots) {
  auto text = readText(roots.proc / "cpuinfo");
  if (!text) return std::nullopt;
  return parse::cpuModelName(*text);
}

std::optional<std::string> osVersion(const Roots& roots) {
  auto release = readText(roots.etc / "os-release", 64 * 1024);
  return parse::osVersionText(release ? parse::osPrettyName(*release) : std::nullopt,
                              readLine(roots.proc / "sys/kernel/osrelease"));
}

std::optional<int64_t> bootTime(const Roots& roots) {
  auto text = readText(roots.proc / "stat");
  if (!text) return std::nullopt;
  auto boot = parse::bootTime(*text);
  if (!boot || *boot > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(*boot);
}

namespace {

// NVIDIA's management library, looked up at run time so machines without
// the driver need nothing. Initialised once per process and kept.
struct Nvml {
  using Init = int (*)();
  using Count = int (*)(unsigned*);
  using Handle = int (*)(unsigned, void**);
  struct Utilization {
    unsigned gpu;
    unsigned memory;
  };
  using Rates = int (*)(void*, Utilization*);
  using Temperature = int (*)(void*, int, unsigned*);

  Count count = nullptr;
  Handle handle = nullptr;
  Rates rates = nullptr;
  Temperature temperature = nullptr;
  bool ready = false;

  Nvml() {
    void* lib = ::dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    auto init = reinterpret_cast<Init>(::dlsym(lib, "nvmlInit_v2"));
    count = reinterpret_cast<Count>(::dlsym(lib, "nvmlDeviceGetCount_v2"));
    handle = reinterpret_cast<Handle>(::dlsym(lib, "nvmlDeviceGetHandleByIndex_v2"));
    rates = reinterpret_cast<Rates>(::dlsym(lib, "nvmlDeviceGetUtilizationRates"));
    temperature = reinterpret_cast<Temperature>(::dlsym(lib, "nvmlDeviceGetTemperature"));
    ready = init && count && handle && rates && init() == 0;  // 0 is NVML_SUCCESS
  }

  std::optional<int64_t> busiest() {
    if (!ready) return std::nullopt;
    unsigned n = 0;
    if (count(&n) != 0) return std::nullopt;
    std::optional<int64_t> best;
    for (unsigned i = 0; i < n; ++i) {
      void* device = nullptr;
      Utilization u{};
      if (handle(i, &device) != 0 || rates(device, &u) != 0) continue;
      best = std::max<int64_t>(best.value_or(0), u.gpu);
    }
    return best;
  }

  // The die temperature of each GPU (NVML_TEMPERATURE_GPU is 0). The
  // proprietary driver registers no hwmon sensor, so this is the only one.
  std::vector<TemperatureReading> temperatures() {
    std::vector<TemperatureReading> out;
    unsigned n = 0;
    if (!ready || !temperature || count(&n) != 0) return out;
    for (unsigned i = 0; i < n && i < 64; ++i) {
      void* device = nullptr;
      unsigned celsius = 0;
      if (handle(i, &device) != 0 || temperature(device, 0, &celsius) != 0) continue;
      out.push_back(
          {"nvidia gpu" + std::to_string(i), static_cast<double>(celsius), TemperatureRole::gpu});
    }
    return out;
  }
};

// One library state for the process's life, like the library itself; calls
// are serialised.
std::mutex nvmlLock;
Nvml& nvml() {
  static Nvml* shared = new Nvml();
  return *shared;
}

}  // namespace

std::vector<TemperatureReading> temperatures(const Roots& roots) {
  std::optional<std::vector<parse::HwmonChip>> chips;
  if (isRealSystem(roots)) chips = libsensorsChips();
  if (!chips) chips = sysfsChips(roots);
  std::vector<TemperatureReading> out;
  for (const auto& c : *chips) {
    auto readings = parse::hwmonTemperatures(c);
    out.insert(out.end(), readings.begin(), readings.end());
  }
  bool fromHwmon = !out.empty();
  if (isRealSystem(roots)) {
    std::lock_guard guard(nvmlLock);
    auto gpus = nvml().temperatures();
    out.insert(out.end(), gpus.begin(), gpus.end());
  }
  auto hasProcessor = [&] {
    return std::any_of(out.begin(), out.end(), [](const TemperatureReading& r) {
      return r.role == TemperatureRole::processor;
    });
  };
  if (fromHwmon && hasProcessor()) return out;
  // Thermal zones cover machines whose zones are not registered with hwmon,
  // and a processor zone (x86_pkg_temp without coretemp loaded) must come
  // before the firmware's acpitz, which hwmon does list.
  bool onlyProcessor = fromHwmon;
  for (const auto& [n, dir] : numbered(roots.sys / "class/thermal", "thermal_zone")) {
    auto type = readLine(dir / "type");
    auto text = readText(dir / "temp", 64);
    auto celsius = text ? parse::millidegrees(*text) : std::nullopt;
    if (!type || !celsius) continue;
    auto reading = parse::thermalZoneTemperature(*type, *celsius);
    if (!onlyProcessor || reading.role == TemperatureRole::processor)
      out.push_back(std::move(reading));
  }
  return out;
}

std::vector<FanInfo> fans(const Roots& roots) {
  std::vector<FanInfo> out;
  for (const auto& [n, dir] : numbered(roots.sys / "class/hwmon", "hwmon")) {
    for (int i : inputIndices(dir, "fan")) {
      auto prefix = "fan" + std::to_string(i);
      auto rpm = readInt(dir / (prefix + "_input"));
      if (!rpm || *rpm < 0) continue;
      FanInfo f;
      f.id = static_cast<int64_t>(out.size());
      f.rpm = static_cast<double>(*rpm);
      f.minRPM =
          static_cast<double>(std::max<int64_t>(readInt(dir / (prefix + "_min")).value_or(0), 0));
      f.maxRPM =
          static_cast<double>(std::max<int64_t>(readInt(dir / (prefix + "_max")).value_or(0), 0));
      if (auto target = readInt(dir / (prefix + "_target")))
        f.targetRPM = static_cast<double>(*target);
      // pwm_enable: 0 full speed, 1 manual, 2 and up automatic
      // (Documentation/hwmon/sysfs-interface.rst).
      f.manual = readInt(dir / ("pwm" + std::to_string(i) + "_enable")) == 1;
      out.push_back(f);
    }
  }
  return out;
}

std::optional<BatteryReading> battery(const Roots& roots) {
  std::vector<std::pair<std::string, parse::SupplyAttributes>> supplies;
  std::error_code ec;
  for (fs::directory_iterator it(roots.sys / "class/power_supply", ec), end; !ec && it != end;
       it.increment(ec)) {
    parse::SupplyAttributes attrs;
    std::error_code inner;
    for (fs::directory_iterator f(it->path(), inner), fend; !inner && f != fend;
         f.increment(inner)) {
      if (!f->is_regular_file(inner)) continue;
      if (auto line = readLine(f->path())) attrs[f->path().filename().string()] = *line;
    }
    supplies.emplace_back(it->path().filename().string(), std::move(attrs));
  }
  std::sort(supplies.begin(), supplies.end());
  std::vector<parse::SupplyAttributes> all;
  for (auto& s : supplies) all.push_back(s.second);
  for (const auto& s : all)
    if (parse::isSystemBattery(s)) return parse::batteryReading(s, all);
  return std::nullopt;
}

std::map<std::string, EnergyCounter> energyCounters(const Roots& roots) {
  std::map<std::string, EnergyCounter> out;
  std::error_code ec;
  for (fs::directory_iterator it(roots.sys / "class/powercap", ec), end; !ec && it != end;
       it.increment(ec)) {
    auto zone = it->path().filename().string();
    // Top-level zones only ("intel-rapl:0"); their subzones ("intel-rapl:0:0",
    // cores, uncore, DRAM) are parts of the package and would count twice.
    // The MMIO interface repeats the package zone.
    if (zone.rfind("intel-rapl:", 0) != 0 || std::count(zone.begin(), zone.end(), ':') != 1)
      continue;
    auto energy = readLine(it->path() / "energy_uj");
    auto uj = energy ? text_file::parseUnsigned(*energy) : std::nullopt;
    if (!uj) continue;
    EnergyCounter c;
    c.microjoules = *uj;
    if (auto range = readLine(it->path() / "max_energy_range_uj"))
      c.rangeMicrojoules = text_file::parseUnsigned(*range).value_or(0);
    c.wholePlatform = readLine(it->path() / "name") == "psys";
    out[zone] = c;
  }
  return out;
}

std::optional<int64_t> gpuPercent(const Roots& roots) {
  std::optional<int64_t> best;
  for (const auto& [n, dir] : numbered(roots.sys / "class/drm", "card")) {
    // amdgpu's gpu_busy_percent (Documentation/gpu/amdgpu/driver-misc.rst).
    if (auto busy = readInt(dir / "device/gpu_busy_percent"); busy && *busy >= 0 && *busy <= 100)
      best = std::max(best.value_or(0), *busy);
  }
  if (isRealSystem(roots)) {
    std::lock_guard guard(nvmlLock);
    if (auto busy = nvml().busiest()) best = std::max(best.value_or(0), *busy);
  }
  return best;
}

DiskTotals diskTotals(const Roots& roots) {
  DiskTotals totals;
  auto text = readText(roots.proc / "diskstats");
  if (!text) return totals;
  // /sys/block lists whole disks only; partitions live beneath them.
  std::set<std::string> wholeDisks;
  std::error_code ec;
  fs::directory_iterator it(roots.sys / "block", ec);
  bool listed = !ec;
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec))
    wholeDisks.insert(it->path().filename().string());
  for (const auto& d : parse::diskstats(*text)) {
    if (parse::isVirtualBlockDevice(d.name)) continue;
    if (listed ? !wholeDisks.count(d.name) : parse::looksLikePartition(d.name)) continue;
    // Unsigned sums wrap rather than trap; the rate rule treats a decrease as 0.
    totals.readBytes += d.sectorsRead * 512;
    totals.writtenBytes += d.sectorsWritten * 512;
  }
  return totals;
}

}  // namespace norvo::platform::sensor_source
