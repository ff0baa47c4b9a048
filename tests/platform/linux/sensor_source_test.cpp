#include "core/platform/sensor_source.hpp"

#include <gtest/gtest.h>

#include "core/platform/network_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

Roots fixtureRoots(const std::string& scenario) {
  return Roots::under(test::fixture("linux/" + scenario));
}

TEST(SensorSourceLinux, DiskTotalsCountWholeDisksOnly) {
  // Partitions, loop devices, device-mapper and RAID volumes repeat the
  // traffic of the disks below them.
  auto laptop = sensor_source::diskTotals(fixtureRoots("laptop"));
  EXPECT_EQ(laptop.readBytes, 8'000'000ull * 512);
  EXPECT_EQ(laptop.writtenBytes, 6'000'000ull * 512);
  auto desktop = sensor_source::diskTotals(fixtureRoots("desktop"));
  EXPECT_EQ(desktop.readBytes, (4000ull + 1000 + 8) * 512);
  EXPECT_EQ(desktop.writtenBytes, (2000ull + 3000) * 512);
  // Truncated and garbled lines are skipped; zram is memory, not disk.
  EXPECT_EQ(sensor_source::diskTotals(fixtureRoots("bare_vm_sensors")).readBytes,
            3'341'282ull * 512);
  EXPECT_EQ(sensor_source::diskTotals(fixtureRoots("bare_vm")).readBytes, 0u);
  // Without /sys/block the names decide.
  test::TempDir dir;
  dir.write("proc/diskstats",
            " 8 0 sda 1 0 10 0 1 0 20 0 0 0 0 0 0 0\n 8 1 sda1 1 0 10 0 1 0 20 0 0 0 0 0 0 0\n");
  EXPECT_EQ(sensor_source::diskTotals(Roots::under(dir.path())).readBytes, 10u * 512);
}

TEST(SensorSourceLinux, ModelFromFirmwareElseArchitecture) {
  // The laptop's DMI names a part number; its version carries the name.
  EXPECT_EQ(sensor_source::model(fixtureRoots("laptop")), "Lenovo ThinkPad X1 Carbon Gen 9");
  test::TempDir board;
  board.write("sys/firmware/devicetree/base/model", std::string("Raspberry Pi 4 Model B\0", 23));
  board.write("proc/sys/kernel/arch", "aarch64\n");
  EXPECT_EQ(sensor_source::model(Roots::under(board.path())), "Raspberry Pi 4 Model B");
  test::TempDir vm;
  vm.write("sys/class/dmi/id/product_name", "To Be Filled By O.E.M.\n");
  vm.write("proc/sys/kernel/arch", "riscv64\n");
  EXPECT_EQ(sensor_source::model(Roots::under(vm.path())), "riscv64");
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

TEST(NetworkSourceLinux, CountersTableAndRoute) {
  auto laptop = fixtureRoots("laptop");
  auto c = network_source::counters(laptop);
  EXPECT_EQ(c["wlp0s20f3"], (InterfaceCounter{987654321, 123456789, false}));
  EXPECT_TRUE(c["wg0"].tunnel);
  EXPECT_TRUE(c["mullvad0"].tunnel);  // a WireGuard link whatever its name
  EXPECT_FALSE(c["docker0"].tunnel);
  EXPECT_EQ(network_source::primaryInterface(laptop), "wlp0s20f3");
  auto table = network_source::table(laptop);
  EXPECT_EQ(table["wlp0s20f3"], (InterfaceDescription{"Wi-Fi", InterfaceType::ieee80211}));
  EXPECT_EQ(table.count("docker0") + table.count("lo"), 0u);

  auto desktop = fixtureRoots("desktop");
  table = network_source::table(desktop);
  EXPECT_EQ(table["enp5s0"], (InterfaceDescription{"Ethernet", InterfaceType::ethernet}));
  EXPECT_EQ(table["enp7s0u2"].displayName, "iPhone USB");
  EXPECT_EQ(table["thunderbolt0"].displayName, "Thunderbolt Bridge");
  EXPECT_EQ(table["tun0"].type, InterfaceType::tunnel);
  EXPECT_EQ(network_source::primaryInterface(desktop), "enp5s0");

  auto bare = fixtureRoots("bare_vm_sensors");
  EXPECT_FALSE(network_source::primaryInterface(bare));
  c = network_source::counters(bare);
  EXPECT_EQ(c.size(), 1u);  // the truncated "lo" line is skipped
  EXPECT_EQ(c["eth0"].in, 12345u);
  EXPECT_TRUE(network_source::counters(fixtureRoots("bare_vm")).empty());
}

// On the machine running the tests: invariants only.
TEST(NetworkSourceLinux, RealMachineInvariants) {
  auto a = network_source::addresses(Roots::system());
  ASSERT_TRUE(a.count("lo"));
  EXPECT_TRUE(a["lo"].up);
  EXPECT_TRUE(a["lo"].ipv4);
  auto wifi = network_source::wifi(Roots::system());
  if (wifi) {
    EXPECT_TRUE(a.count(wifi->bsdName));
  }
}

}  // namespace
}  // namespace norvo::platform
