#include "core/measure/sensors.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "core/assess/compact.hpp"
#include "core/measure/network.hpp"
#include "core/measure/smc.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using platform::TemperatureReading;
using Role = platform::TemperatureRole;

// "cpu 60 coretemp; max 60; gpu; soc 60": each figure with its source, so that
// a source without a figure shows too.
std::string describe(const auto& t) {
  auto part = [](const std::optional<double>& c, const std::optional<std::string>& source = {}) {
    std::ostringstream out;
    if (c) out << " " << *c;
    if (source) out << " " << *source;
    return out.str();
  };
  return "cpu" + part(t.cpuCelsius, t.cpuSource) + "; max" + part(t.cpuMaxCelsius) + "; gpu" +
         part(t.gpuCelsius, t.gpuSource) + "; soc" + part(t.socMaxCelsius);
}

// The processor's temperature comes from a sensor on the processor whenever
// there is one; a firmware zone is the last resort.
TEST(SensorsTemperatures, FiguresAndTheirSources) {
  constexpr auto P = Role::processor, G = Role::gpu, L = Role::listed;
  const TemperatureReading acpitz90{"acpitz", 90, Role::processorFallback};
  const std::vector<TemperatureReading> listed = {
      {"PMU tdie1", 40, L},    {"PMU tdie2", 50, L}, {"NAND", 41, L},
      {"NAND", 42, L},         {"GPU MTR", 45, L},   {"gas gauge battery", 60, L},
      {"Battery BAT0", 70, L}, {"Hot", 150, L},      {"Cold", 0, L}};
  struct Case {
    std::vector<TemperatureReading> sensors;
    std::string expected;
    std::vector<double> smcProcessor = {}, smcGpu = {};
  };
  const Case cases[] = {
      // Exactly 5 and 130 are outside the controller's window; 5.1 and 129.9 inside.
      {{}, "cpu 67.5 smc; max 129.9; gpu 40 smc; soc", {5.0, 5.1, 129.9, 130.0}, {40.04, 130.0}},
      {{{"coretemp Core 0", 58, P}}, "cpu 70 smc; max 70; gpu 50 smc; soc 58", {70}, {50}},
      // Named sensors: the hottest "tdie" and "GPU"; batteries are not chips.
      {listed, "cpu 50 PMU tdie2; max; gpu 45 GPU MTR; soc 50"},
      {{acpitz90, {"coretemp Package", 60, P}}, "cpu 60 coretemp; max 60; gpu; soc 90"},
      {{{"k10temp Tdie", 50, P},
        {"zenpower Tdie", 54, P},
        {"amdgpu edge", 55, G},
        {"nvidia gpu0", 65, G}},
       "cpu 52 k10temp, zenpower; max 54; gpu 60 amdgpu, nvidia; soc 65"},
      // Outside the plausible window a processor sensor is no source at all.
      {{{"coretemp Core 0", 200, P}, acpitz90}, "cpu 90 acpitz; max; gpu; soc 90"},
      {{{"nvme Composite", 38, L}}, "cpu; max; gpu; soc 38"}};
  for (const auto& c : cases)
    EXPECT_EQ(describe(Sensors::temperatures(c.smcProcessor, c.smcGpu, c.sensors)), c.expected);

  // Listed: averaged by name, within 0 to 150 (exclusive).
  EXPECT_EQ(Sensors::temperatures({}, {}, listed).temperatures,
            (std::vector<SensorReport::Temperature>{{"Battery BAT0", 70},
                                                    {"GPU MTR", 45},
                                                    {"NAND", 41.5},
                                                    {"PMU tdie1", 40},
                                                    {"PMU tdie2", 50},
                                                    {"gas gauge battery", 60}}));
  // The digest names the source beside each figure it shows.
  SensorReport report;
  report.cpuCelsius = 60;
  report.cpuSource = "coretemp";
  report.gpuSource = "nvidia";  // without a figure
  auto digest = Compact::sensors(report);
  EXPECT_EQ(digest.value("cpu_c_source", ""), "coretemp");
  EXPECT_FALSE(digest.contains("gpu_c_source")) << digest;
}

TEST(SensorsFormulas, BatteryRatesPowerAndUptime) {
  platform::BatteryReading r;
  for (auto [now, max, percent] : std::vector<std::tuple<int, int, int>>{
           {3, 4, 75}, {57, 0, 57}}) {  // integer division, no division by zero
    r.currentCapacity = now;
    r.maxCapacity = max;
    EXPECT_EQ(Sensors::battery(r).percent, percent) << now << "/" << max;
  }
  r.minutesToEmpty = 0;
  EXPECT_FALSE(Sensors::battery(r).minutesLeft);
  r.fullChargeCapacity = 5200;
  r.designCapacity = 5000;
  EXPECT_EQ(Sensors::battery(r).healthPercent, 100);  // never above 100
  r.designCapacity = 0;
  EXPECT_FALSE(Sensors::battery(r).healthPercent);
  r.adapterWatts = 0.4;
  EXPECT_FALSE(Sensors::battery(r).adapterWatts);

  SensorCounters a, b;
  a.time = b.time = 10;
  EXPECT_EQ(Sensors::interval(a, b), 0.001);
  EXPECT_EQ(Sensors::rate(100, 300, 2), 100);
  EXPECT_EQ(Sensors::rate(300, 100, 2), 0);  // a disk went away
  EXPECT_EQ(Sensors::rate(0, UINT64_MAX, 1), static_cast<double>(UINT64_MAX));

  std::map<std::string, platform::EnergyCounter> before{{"pkg", {1'000'000, 10'000'000, false}},
                                                        {"psys", {5'000'000, 10'000'000, true}}};
  auto after = before;
  after["pkg"].microjoules = 3'000'000;
  after["psys"].microjoules = 9'000'000;
  EXPECT_EQ(Sensors::energyWatts(before, after, 2), 2.0);  // the whole platform only
  after["psys"].microjoules = 1'000'000;                   // wrapped past its range
  EXPECT_EQ(Sensors::energyWatts(before, after, 2), 3.0);
  before.erase("psys");
  EXPECT_FALSE(Sensors::energyWatts(before, after, 2));  // a package is not the machine

  EXPECT_EQ(Sensors::systemWatts(12.5, 30, 40), 12.5);
  EXPECT_EQ(Sensors::systemWatts(0, 30, 40), 30);  // 0 and 1000 are outside the window
  EXPECT_EQ(Sensors::systemWatts(1000, std::nullopt, 40), 40);
  EXPECT_FALSE(Sensors::systemWatts(std::nullopt, std::nullopt, 1000));
  EXPECT_EQ(Sensors::uptimeSeconds(1'700'000'000, 1'700'000'100.5, 7), 100.5);
  EXPECT_EQ(Sensors::uptimeSeconds(std::nullopt, 1'700'000'100, 7), 7);
}

// ---- Whole reports from fixture trees ----

SensorReport fixtureReport(const std::string& scenario) {
  auto roots = platform::Roots::under(test::fixture("linux/" + scenario));
  auto first = SensorCounters::now(roots);
  auto second = first;
  second.time = first.time + 2;
  return Sensors::read(first, second, roots, nullptr);
}

TEST(SensorsFixtures, BareMachineGivesEveryFallback) {
  for (const char* scenario : {"bare_vm", "bare_vm_sensors"}) {
    auto r = fixtureReport(scenario);
    EXPECT_EQ(describe(r), "cpu; max; gpu; soc") << scenario;
    EXPECT_TRUE(r.temperatures.empty() && r.fans.empty()) << scenario;
    EXPECT_FALSE(r.hasFans || r.systemWatts || r.gpuPercent || r.battery) << scenario;
    EXPECT_TRUE(r.connections.has_value()) << scenario;
  }
}

std::vector<uint8_t> floatBytes(float f) {
  std::vector<uint8_t> b(4);
  std::memcpy(b.data(), &f, 4);
  return b;
}

TEST(SmcValue, NumberByType) {
  using Case = std::tuple<std::string, std::vector<uint8_t>, std::optional<double>>;
  for (const auto& [type, bytes, expected] :
       std::vector<Case>{{"sp78", {0x2F, 0x80}, 47.5},
                         {"sp78", {0xFF, 0x80}, -0.5},  // signed
                         {"fpe2", {0x1F, 0x40}, 2000},
                         {"flt ", floatBytes(42.25f), 42.25},
                         {"flt ", {0x00, 0x00}, std::nullopt},  // too few bytes
                         {"ui8 ", {0xFE}, 254},
                         {"ui16", {0x12}, std::nullopt},
                         {"ui32", {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
                         {"ch8*", {0x41, 0x42}, std::nullopt}})
    EXPECT_EQ(SMC::Value({type, bytes}).number(), expected) << type;
}

using platform::InterfaceAddresses;
using platform::InterfaceType;
using Kind = NetworkConnection::Kind;

InterfaceAddresses v4(std::optional<double> link = std::nullopt) {
  InterfaceAddresses a;
  a.up = a.running = a.ipv4 = true;
  a.linkBitsPerSec = link;
  return a;
}

TEST(NetworkNames, SpeedTextsExcludedInterfacesAndTunnels) {
  // Whole gigabits lose their ".0"; below one gigabit the megabits round.
  for (auto [bits, text] : std::vector<std::pair<double, std::string>>{
           {1e9, "1 Gbit/s"}, {2.5e9, "2.5 Gbit/s"}, {999'999'999, "1000 Mbit/s"}})
    EXPECT_EQ(Network::speed(bits), text);
  // Container bridges and overlays too: their traffic also crosses the
  // physical interface, and would count twice.
  for (auto name : {"lo", "awdl0", "veth3f2a", "docker0", "br-1a2b3c", "virbr0", "cni-podman0",
                    "cilium_vxlan", "flannel.1", "kube-bridge"})
    EXPECT_TRUE(Network::isExcluded(name)) << name;
  for (auto name : {"en0", "eth0", "wlp0s20f3", "bridge0", "wg0", "tun0", "flannelx", "enp0s31f6"})
    EXPECT_FALSE(Network::isExcluded(name)) << name;
  for (auto name : {"utun3", "ipsec0", "ppp0", "wg0"})
    EXPECT_TRUE(Network::isTunnelName(name)) << name;
  for (auto name : {"en0", "tap0"}) EXPECT_FALSE(Network::isTunnelName(name)) << name;
}

TEST(NetworkTotals, RatesResetsAndExclusions) {
  Network::Counters before{{"en0", {1000, 2000}},   {"en1", {4'294'967'000, 100}},
                           {"lo", {0, 0}},          {"utun3", {0, 0}},
                           {"mull0", {0, 0, true}}, {"docker0", {0, 0}}};
  Network::Counters after{
      {"en0", {3000, 2500}},   {"en1", {500, 900}},           {"lo", {1'000'000, 1'000'000}},
      {"utun3", {5000, 5000}}, {"mull0", {5000, 5000, true}}, {"docker0", {7000, 7000}},
      {"en9", {999, 999}}};
  // en1 went back inbound: it adds nothing, not even its outbound growth.
  EXPECT_EQ(Network::totals(before, after, 2.0), std::make_pair(1000.0, 250.0));
  for (auto window :
       {std::optional<double>(0.0), std::optional<double>(-1.0), std::optional<double>()})
    EXPECT_EQ(Network::totals(before, after, window), std::make_pair(0.0, 0.0));
  EXPECT_EQ(Network::totals(std::nullopt, after, 2.0), std::make_pair(0.0, 0.0));
}

TEST(NetworkConnections, WiFiDetailsAndRates) {
  Network::Interfaces i;
  i.addresses = {{"wlan0", v4(54e6)}, {"wlan1", v4(72e6)}, {"eth0", v4()}};
  i.table = {{"wlan0", {"Wi-Fi", InterfaceType::ieee80211}},
             {"wlan1", {"Wi-Fi", InterfaceType::ieee80211}}};
  const platform::WiFiReading reading{"wlan0", 866, NetworkConnection::WiFi{}};
  i.wifi = reading;
  Network::Counters before{{"wlan0", {100, 4'294'967'000}}, {"eth0", {0, 0}}};
  Network::Counters after{{"wlan0", {1100, 500}}, {"eth0", {10, 20}}, {"wlan1", {50, 50}}};
  auto list = Network::connectionsFrom(i, before, after, 0.5);
  // Name, display name, kind, link, primary, in and out per second, radio.
  // wlan0: the radio's rate, not the driver's; outbound went back, so 0 in that
  // direction only. wlan1: the reading describes another radio, and without
  // earlier counters there are no rates.
  NetworkConnection eth{"eth0", "eth0", Kind::other, std::nullopt, false, 20, 40, std::nullopt},
      wlan0{"wlan0", "Wi-Fi", Kind::wifi, 866e6, false, 2000, 0, reading.details},
      wlan1{"wlan1", "Wi-Fi", Kind::wifi, 72e6, false, 0, 0, std::nullopt};
  EXPECT_EQ(list, (std::vector<NetworkConnection>{eth, wlan0, wlan1}));
}

}  // namespace
}  // namespace norvo
