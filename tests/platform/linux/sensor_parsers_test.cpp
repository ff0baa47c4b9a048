#include <gtest/gtest.h>

#include "core/platform/linux/diskstats_parsers.hpp"
#include "core/platform/linux/hwmon_parsers.hpp"
#include "core/platform/linux/net_parsers.hpp"
#include "core/platform/linux/power_supply_parsers.hpp"

namespace norvo::platform::parse {
namespace {

using Role = TemperatureRole;

// The names shown beside each figure are checked once, with the battery's.
TEST(HwmonMapping, RolesPerChip) {
  // The chip, its inputs' labels and the role each plays.
  const std::tuple<std::string, std::vector<std::optional<std::string>>, std::vector<Role>>
      cases[] = {{"coretemp", {"Package id 0"}, {Role::processor}},
                 {"k10temp", {"Tctl", "Tccd1"}, {Role::processor, Role::processor}},
                 // Tctl carries an offset on some models: with Tdie present it is listed only.
                 {"k10temp", {"Tctl", "Tdie"}, {Role::listed, Role::processor}},
                 {"amdgpu", {"edge", "junction", "mem"}, {Role::gpu, Role::gpu, Role::listed}},
                 {"nouveau", {std::nullopt}, {Role::gpu}},
                 {"acpitz", {std::nullopt}, {Role::processorFallback}},
                 {"applesmc", {"TC0P", "TG0D", "TB0T"}, {Role::processor, Role::gpu, Role::listed}},
                 {"nvme", {"Composite"}, {Role::listed}}};
  for (const auto& [name, labels, expected] : cases) {
    HwmonChip chip{name, false, {}};
    for (size_t i = 0; i < labels.size(); ++i)
      chip.inputs.push_back({static_cast<int>(i + 1), labels[i], 40});
    std::vector<Role> roles;
    for (const auto& t : hwmonTemperatures(chip)) roles.push_back(t.role);
    EXPECT_EQ(roles, expected) << name;
  }
  // A battery's sensor is named for it and plays no processor part.
  EXPECT_EQ(hwmonTemperatures({"coretemp", true, {{1, "Package id 0", 30}}}),
            (std::vector<TemperatureReading>{{"Battery coretemp Package id 0", 30, Role::listed}}));
  // The processor's and the firmware's zones: read through the source's tree.
  for (auto [type, role] : std::vector<std::pair<const char*, Role>>{{"gpu-thermal", Role::gpu},
                                                                     {"iwlwifi_1", Role::listed}})
    EXPECT_EQ(thermalZoneTemperature(type, 50), (TemperatureReading{type, 50, role}));
  EXPECT_EQ(millidegrees("-5500\n"), -5.5);
  for (const char* bad : {"", "45.0", "abc"}) EXPECT_FALSE(millidegrees(bad)) << bad;
}

TEST(PowerSupply, BatteryReadings) {
  SupplyAttributes mouse{{"type", "Battery"}, {"scope", "Device"}, {"capacity", "40"}};
  SupplyAttributes bat{{"type", "Battery"},
                       {"status", "Discharging"},
                       {"charge_now", "3000000"},
                       {"charge_full", "4000000"},
                       {"charge_full_design", "4400000"},
                       {"current_now", "-1500000"},
                       {"voltage_now", "11800000"},
                       {"temp", "295"}};
  EXPECT_FALSE(isSystemBattery(mouse));
  EXPECT_TRUE(isSystemBattery(bat));
  // No "capacity": charge now of full; 3 Ah at 1.5 A, whatever the sign.
  BatteryReading expected{3000000, 4000000, false, false, 120, {}, 4000000, 4400000, 29.5, {}, {}};
  auto r = batteryReading(bat, {});
  EXPECT_NEAR(r.dischargeWatts.value_or(0), 17.7, 1e-9);
  expected.dischargeWatts = r.dischargeWatts;
  EXPECT_EQ(r, expected);
  // Charging from a USB-PD adapter: on AC, the contract's watts, no time left.
  bat["status"] = "Charging";
  bat["capacity"] = "75";
  SupplyAttributes pd{
      {"type", "USB"}, {"online", "1"}, {"voltage_max", "20000000"}, {"current_max", "3250000"}};
  expected = {75, 100, true, true, {}, {}, 4000000, 4400000, 29.5, 65.0, {}};
  EXPECT_EQ(batteryReading(bat, {{{"type", "Mains"}, {"online", "0"}}, pd, mouse}), expected);
  bat["status"] = "Full";  // no adapter says anything: a full battery is on external power
  EXPECT_TRUE(batteryReading(bat, {}).onAC);
  bat["status"] = "Discharging";
  bat["time_to_empty_now"] = "5400";
  EXPECT_EQ(batteryReading(bat, {}).minutesToEmpty, 90);
  bat["current_now"] = "garbage";
  bat.erase("voltage_now");
  EXPECT_FALSE(batteryReading(bat, {}).dischargeWatts);
}

TEST(Diskstats, ParsesAndClassifiesDevices) {
  auto disks = diskstats(
      "   8       0 sda 100 0 2048 1 50 0 4096 1 0 1 2 0 0 0 0\n"
      "   8       1 sda1 100 0 2048 1 50 0 4096 1 0 1 2\n"
      " 259 0 nvme0n1 1 2 3\n"
      "garbage line\n"
      " 253 0 dm-0 x 0 5 0 0 0 7 0 0 0 0 0 0 0\n");
  EXPECT_EQ(disks, (std::vector<DiskCounters>{{"sda", 2048, 4096}, {"sda1", 2048, 4096}}));
  for (auto n : {"loop0", "ram1", "zram0", "dm-3", "md127"}) EXPECT_TRUE(isVirtualBlockDevice(n));
  for (auto n : {"sda", "nvme0n1", "mmcblk0"}) EXPECT_FALSE(isVirtualBlockDevice(n)) << n;
  for (auto n : {"sda1", "xvda1", "nvme0n1p2", "mmcblk0p1"}) EXPECT_TRUE(looksLikePartition(n));
  for (auto n : {"sda", "nvme0n1", "mmcblk0", "sr0", ""}) EXPECT_FALSE(looksLikePartition(n)) << n;
}

TEST(NetParsers, ProcNetDevDefaultRouteAndUevent) {
  auto counts = procNetDev(
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets\n"
      "    lo: 100 1 0 0 0 0 0 0 200 2 0 0 0 0 0 0\n"
      "enp5s0:18446744073709551615 1 0 0 0 0 0 0 7 2 0 0 0 0 0 0\n"
      "  eth2: x 1 0 0 0 0 0 0 7 2 0 0 0 0 0 0\n");
  EXPECT_EQ(counts, (decltype(counts){{"enp5s0", {UINT64_MAX, 7}}, {"lo", {100, 200}}}));

  const std::string header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\n";
  // The lowest metric wins; a route that is not up, or is not the default, does not count.
  EXPECT_EQ(
      defaultRouteInterface(header + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\n"
                                     "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"
                                     "eth1\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"),
      "eth0");
  EXPECT_FALSE(defaultRouteInterface(header +
                                     "eth0\t00000000\t0100000A\t0002\t0\t0\t0\t00000000\t0\n"
                                     "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\n"
                                     "eth0\tzz\t00000000\t0001\t0\t0\t0\t00000000\t0\n"));
  // The header line is never a route, even if it looks like one.
  EXPECT_FALSE(defaultRouteInterface("eth0\t00000000\t0\t0001\t0\t0\t0\t00000000\n"));

  EXPECT_EQ(ueventValue("INTERFACE=wg0\nDEVTYPE=wireguard\n", "DEVTYPE"), "wireguard");
  EXPECT_FALSE(ueventValue("DEVTYPES=x\n", "DEVTYPE"));
}

}  // namespace
}  // namespace norvo::platform::parse
