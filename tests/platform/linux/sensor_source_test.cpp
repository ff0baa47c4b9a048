#include "core/platform/sensor_source.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "core/platform/network_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

Roots fixtureRoots(const std::string& scenario) {
  return Roots::under(test::fixture("linux/" + scenario));
}

TEST(SensorSourceLinux, EnergyZonesAndThermalZonesOnlyWithoutHwmon) {
  auto zones = sensor_source::energyCounters(fixtureRoots("laptop"));
  ASSERT_EQ(zones.size(), 2u);  // subzones and the MMIO copy left out
  EXPECT_EQ(zones["intel-rapl:0"], (EnergyCounter{5'000'000, 262'143'328'850, false}));
  EXPECT_TRUE(zones["intel-rapl:1"].wholePlatform);
  EXPECT_TRUE(sensor_source::energyCounters(fixtureRoots("bare_vm_sensors")).empty());

  test::TempDir dir;
  using Zone = std::tuple<int, const char*, const char*>;
  for (auto [zone, type, temp] : std::vector<Zone>{
           {0, "acpitz", "41000"}, {1, "x86_pkg_temp", "garbage"}, {2, "x86_pkg_temp", "55000"}}) {
    auto base = "sys/class/thermal/thermal_zone" + std::to_string(zone);
    dir.write(base + "/type", std::string(type) + "\n");
    dir.write(base + "/temp", std::string(temp) + "\n");
  }
  dir.write("sys/class/thermal/cooling_device0/type", "Processor\n");
  auto roots = Roots::under(dir.path());
  EXPECT_EQ(sensor_source::temperatures(roots),
            (std::vector<TemperatureReading>{{"acpitz", 41, TemperatureRole::processorFallback},
                                             {"x86_pkg_temp", 55, TemperatureRole::processor}}));
  dir.write("sys/class/hwmon/hwmon0/name", "nvme\n");
  dir.write("sys/class/hwmon/hwmon0/temp1_input", "38000\n");
  // hwmon has no processor sensor: the processor's zone joins it, acpitz does not.
  EXPECT_EQ(sensor_source::temperatures(roots),
            (std::vector<TemperatureReading>{{"nvme", 38, TemperatureRole::listed},
                                             {"x86_pkg_temp", 55, TemperatureRole::processor}}));
}

// GPUs NVML can see on this machine; 0 without the library or a device.
unsigned nvmlDevices() {
  void* lib = ::dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return 0;
  auto init = reinterpret_cast<int (*)()>(::dlsym(lib, "nvmlInit_v2"));
  auto count = reinterpret_cast<int (*)(unsigned*)>(::dlsym(lib, "nvmlDeviceGetCount_v2"));
  unsigned n = 0;
  if (!init || !count || init() != 0 || count(&n) != 0) return 0;
  return n;
}

// NVIDIA's proprietary driver registers no hwmon sensor: its GPUs' temperature
// comes from NVML or not at all.
TEST(NvmlTemperature, EachGpuIsAGpuSensor) {
  unsigned devices = nvmlDevices();
  if (devices == 0) GTEST_SKIP() << "no NVIDIA GPU visible through NVML";
  unsigned seen = 0;
  for (const auto& r : sensor_source::temperatures(Roots::system())) {
    if (r.name.rfind("nvidia gpu", 0) != 0) continue;
    ++seen;
    EXPECT_EQ(r.role, TemperatureRole::gpu) << r.name;
    EXPECT_GT(r.celsius, 0) << r.name;
    EXPECT_LT(r.celsius, 130) << r.name;
  }
  EXPECT_EQ(seen, devices);
}

TEST(NetworkSourceLinux, CountersTableAndRoute) {
  auto laptop = fixtureRoots("laptop");
  auto c = network_source::counters(laptop);
  EXPECT_EQ(c["wlp0s20f3"], (InterfaceCounter{987654321, 123456789, false}));
  EXPECT_TRUE(c["mullvad0"].tunnel);  // a WireGuard link whatever its name
  EXPECT_FALSE(c["docker0"].tunnel);
  EXPECT_EQ(network_source::primaryInterface(laptop), "wlp0s20f3");
  auto table = network_source::table(laptop);
  EXPECT_EQ(table["wlp0s20f3"], (InterfaceDescription{"Wi-Fi", InterfaceType::ieee80211}));
  EXPECT_EQ(table.count("docker0") + table.count("lo"), 0u);

  auto desktop = fixtureRoots("desktop");
  table = network_source::table(desktop);
  EXPECT_EQ(table["tun0"].type, InterfaceType::tunnel);

  auto bare = fixtureRoots("bare_vm_sensors");
  EXPECT_FALSE(network_source::primaryInterface(bare));
  c = network_source::counters(bare);
  EXPECT_EQ(c.size(), 1u);  // the truncated "lo" line is skipped
  EXPECT_EQ(c["eth0"].in, 12345u);
  EXPECT_TRUE(network_source::counters(fixtureRoots("bare_vm")).empty());
}

}  // namespace
}  // namespace norvo::platform
