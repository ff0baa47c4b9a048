#include "widget/load_widget_view.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "widget/byte_count_format.hpp"

namespace norvo {
namespace {

using namespace std::chrono;
using View = LoadWidgetView;
using Color = WidgetColor;

const std::string nb = "\u00a0";  // no-break space
const double nan = std::numeric_limits<double>::quiet_NaN();

TEST(ByteCountFormat, OneBinarySystemInBothLanguages) {
  const auto en = platform::Language::english;
  for (const auto& [bytes, russian, english] :
       std::vector<std::tuple<uint64_t, std::string, std::string>>{
           {1, "1" + nb + "байт", "1" + nb + "byte"},
           {12, "12" + nb + "байт", "12" + nb + "bytes"},
           {22, "22" + nb + "байта", "22" + nb + "bytes"},
           {1'048'575, "1" + nb + "МиБ", "1" + nb + "MiB"},  // 1023.999 KiB rounds up a unit
           {1'234'567'890, "1,15" + nb + "ГиБ", "1.15" + nb + "GiB"},
           {3ull << 60, "3" + nb + "072" + nb + "ПиБ", "3,072" + nb + "PiB"}}) {
    EXPECT_EQ(byte_count::format(bytes), russian) << bytes;
    EXPECT_EQ(byte_count::format(bytes, en), english) << bytes;
  }
  EXPECT_EQ(byte_count::format(std::numeric_limits<int64_t>::min()),
            "-8" + nb + "192" + nb + "ПиБ");
  Date d = sys_days{year{2026} / 3 / 4} + hours{23} + minutes{7} + seconds{59};
  EXPECT_EQ(byte_count::timeText(d, -hours{5} - minutes{30}), "17:37");
}

TEST(WidgetHeader, HealthBoundaries) {
  // The level titles are checked where they are drawn (renderer and terminal tests).
  WidgetSnapshot s;
  EXPECT_FALSE(View::header(s, false).health || View::processorFigure(s).health) << "no score";
  // The header's heart is red below 50; the small family's label never is.
  for (auto [score, header, small] :
       std::vector<std::tuple<int64_t, Color, Color>>{{49, Color::red, Color::orange},
                                                      {50, Color::orange, Color::orange},
                                                      {80, Color::green, Color::green}}) {
    s.health = score;
    EXPECT_EQ(View::header(s, false).health.value().color, header) << score;
    EXPECT_FALSE(View::header(s, true).health) << "never in the compact header";
    auto f = View::processorFigure(s).health.value();
    EXPECT_EQ(std::pair(f.color, f.score.color), std::pair(small, small)) << score;
  }
}

TEST(WidgetMeter, FractionsTextsAndTheOrangeThreshold) {
  for (auto [fraction, shown, tint] :
       std::vector<std::tuple<double, double, Color>>{{0.85, 0.85, Color::accent},
                                                      {0.8500001, 0.8500001, Color::orange},
                                                      {1.7, 1, Color::orange},
                                                      {-0.3, 0, Color::accent},
                                                      {nan, 0, Color::accent}})
    EXPECT_EQ(View::meterBar(fraction), (WidgetBar{shown, tint})) << fraction;
  EXPECT_EQ(View::processorMeter(nan).value.text, "0%");
  EXPECT_EQ(View::memoryMeter(3, 0).bar, (WidgetBar{1, Color::orange})) << "used ÷ 1 for total 0";
  // The bar spans 30 to 110 °C.
  auto cool = View::temperatureMeter(20), hot = View::temperatureMeter(98.5);
  EXPECT_EQ(std::pair(cool.value.text, cool.bar),
            std::pair(std::string("20 °C"), WidgetBar{0, Color::accent}));
  EXPECT_EQ(hot.value.text, "99 °C");
  EXPECT_DOUBLE_EQ(hot.bar.fraction, 0.85625);
}

TEST(WidgetRows, DisksNetworksAndApps) {
  using S = WidgetSymbol;
  for (const auto& [disk, symbol, used, free] :
       std::vector<std::tuple<WidgetSnapshot::Disk, S, double, std::string>>{
           // Disks count in the same binary units as memory.
           {{"HD", 250ll << 30, 1000ll << 30, false}, S::internalDrive, 0.75, "250" + nb + "ГиБ"},
           {{"empty", 0, 0, true}, S::externalDrive, 1, "0" + nb + "байт"},
           {{"odd", 5, 0, false}, S::internalDrive, 0, "5" + nb + "байт"}}) {
    auto row = View::diskRow(disk);
    EXPECT_EQ(row.symbol, symbol) << disk.name;
    EXPECT_DOUBLE_EQ(row.bar.fraction, used) << disk.name;
    EXPECT_EQ(row.bar.tint, Color::accent) << "disks are never orange";
    EXPECT_EQ(row.free.text, "свободно " + free);
  }

  using Kind = NetworkConnection::Kind;
  for (auto [kind, link, symbol, speed] :
       std::vector<std::tuple<Kind, std::optional<double>, S, std::optional<std::string>>>{
           {Kind::ethernet, 1'000'000'000, S::cableConnector, "1.0 Gbit/s"},
           {Kind::vpn, std::nullopt, S::lockShield, std::nullopt},
           {Kind::thunderbolt, 999'999'999, S::cableConnector, "999 Mbit/s"},
           {Kind::other, nan, S::cableConnector, std::nullopt}}) {
    auto row = View::networkRow({"", "", kind, link, false, 1.5 * 1048576, 20'000, {}});
    EXPECT_EQ(row.symbol, symbol);
    EXPECT_EQ(row.speed ? std::optional(row.speed->text) : std::nullopt, speed);
    EXPECT_EQ(row.rates.text, "↓1.5 ↑0.0 MiB/s");
  }
  // A rate that could not be measured reads 0, never "nan".
  EXPECT_EQ(View::networkRow({"", "", Kind::other, {}, false, nan, HUGE_VAL, {}}).rates.text,
            "↓0.0 ↑0.0 MiB/s");

  auto ai = View::appRow({"claude", "/opt/claude", 123.9, 1536ull << 20, true});
  ASSERT_TRUE(ai.badge.has_value());
  EXPECT_EQ(ai.badge->text, "AI");
  EXPECT_EQ(ai.value.text, "123%  1,5" + nb + "ГиБ");  // percent cut, not rounded
  EXPECT_FALSE(View::appRow({"Code", "/usr/share/code", 0.99, 0, false}).badge.has_value());
}

}  // namespace
}  // namespace norvo
