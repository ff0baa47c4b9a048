#include "widget/load_widget_view.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "widget/byte_count_format.hpp"
#include "widget/load_provider.hpp"

namespace norvo {
namespace {

using namespace std::chrono;
using View = LoadWidgetView;
using Family = View::Family;
using Color = WidgetColor;

const std::string nb = "\u00a0";  // no-break space
const double nan = std::numeric_limits<double>::quiet_NaN();

WidgetSnapshot record() {
  WidgetSnapshot s;
  s.date = sys_days{year{2026} / 3 / 4} + hours{15} + minutes{7} + seconds{59};
  s.level = LoadLevel::busy;
  s.health = 49;
  s.cpu = 0.456;
  s.memoryUsed = 8ull << 30;
  s.memoryTotal = 16ull << 30;
  s.cpuCelsius = 64;
  s.jobs = 3;
  for (int i = 0; i < 5; ++i)
    s.disks.push_back({"disk" + std::to_string(i), 500'000'000'000, 1'000'000'000'000, i > 0});
  s.apps = {{"claude", "/opt/claude", 123.9, 1ull << 30, true},
            {"Code", "/usr/share/code", 40, 2ull << 30, false}};
  NetworkConnection net;
  net.name = "Ethernet";
  net.kind = NetworkConnection::Kind::ethernet;
  net.linkBitsPerSec = 1e9;
  s.network = net;
  return s;
}

// The index of each row's kind in View::Row.
std::vector<size_t> kinds(const View::Body& b) {
  std::vector<size_t> out;
  for (const auto& r : b.rows) out.push_back(r.index());
  return out;
}

TEST(ByteCountFormat, OneBinarySystemInBothLanguages) {
  const auto en = platform::Language::english;
  for (const auto& [bytes, russian, english] :
       std::vector<std::tuple<uint64_t, std::string, std::string>>{
           {0, "0" + nb + "байт", "0" + nb + "bytes"},
           {1, "1" + nb + "байт", "1" + nb + "byte"},
           {2, "2" + nb + "байта", "2" + nb + "bytes"},
           {12, "12" + nb + "байт", "12" + nb + "bytes"},
           {22, "22" + nb + "байта", "22" + nb + "bytes"},
           {1000, "1" + nb + "000" + nb + "байт", "1,000" + nb + "bytes"},
           {1024, "1" + nb + "КиБ", "1" + nb + "KiB"},
           {1'572'864, "1,5" + nb + "МиБ", "1.5" + nb + "MiB"},
           {1'048'575, "1" + nb + "МиБ", "1" + nb + "MiB"},  // 1023.999 KiB rounds up a unit
           {1'234'567'890, "1,15" + nb + "ГиБ", "1.15" + nb + "GiB"},
           {(16ull << 30) + (1ull << 29), "16,5" + nb + "ГиБ", "16.5" + nb + "GiB"},
           {3ull << 60, "3" + nb + "072" + nb + "ПиБ", "3,072" + nb + "PiB"}}) {
    EXPECT_EQ(byte_count::format(bytes), russian) << bytes;
    EXPECT_EQ(byte_count::format(bytes, en), english) << bytes;
  }
  EXPECT_EQ(byte_count::format(int64_t{-2 << 20}), "-2" + nb + "МиБ");
  EXPECT_EQ(byte_count::format(std::numeric_limits<int64_t>::min()),
            "-8" + nb + "192" + nb + "ПиБ");
  Date d = sys_days{year{2026} / 3 / 4} + hours{23} + minutes{7} + seconds{59};
  EXPECT_EQ(byte_count::timeText(d, seconds{0}), "23:07");
  EXPECT_EQ(byte_count::timeText(d, hours{3}), "02:07");
  EXPECT_EQ(byte_count::timeText(d, -hours{5} - minutes{30}), "17:37");
}

TEST(WidgetHeader, TitleColourAndHealthBoundaries) {
  for (auto [level, colour, title] : std::vector<std::tuple<LoadLevel, Color, std::string>>{
           {LoadLevel::ok, Color::green, "Нагрузка в норме"},
           {LoadLevel::busy, Color::yellow, "Компьютер занят"},
           {LoadLevel::overloaded, Color::orange, "Компьютер перегружен"},
           {LoadLevel::critical, Color::red, "Критическая нагрузка"}}) {
    auto s = record();
    s.level = level;
    auto h = View::header(s, false);
    EXPECT_EQ(std::pair(h.levelColor, h.title.text), std::pair(colour, title));
    EXPECT_FALSE(View::header(s, true).health.has_value()) << "the compact header never shows it";
  }
  // The header's heart is red below 50; the small family's label never is.
  for (auto [score, header, small] :
       std::vector<std::tuple<int64_t, Color, Color>>{{0, Color::red, Color::orange},
                                                      {49, Color::red, Color::orange},
                                                      {50, Color::orange, Color::orange},
                                                      {79, Color::orange, Color::orange},
                                                      {80, Color::green, Color::green}}) {
    auto s = record();
    s.health = score;
    auto h = View::header(s, false);
    ASSERT_TRUE(h.health.has_value());
    EXPECT_EQ(h.health->color, header) << score;
    EXPECT_EQ(h.health->score.text, std::to_string(score));
    auto f = View::processorFigure(s);
    ASSERT_TRUE(f.health.has_value());
    EXPECT_EQ(std::pair(f.health->color, f.health->score.color), std::pair(small, small)) << score;
  }
  auto s = record();
  s.health.reset();
  EXPECT_FALSE(View::header(s, false).health || View::processorFigure(s).health);
}

TEST(WidgetMeter, FractionsTextsAndTheOrangeThreshold) {
  for (auto [fraction, shown, tint] :
       std::vector<std::tuple<double, double, Color>>{{0.85, 0.85, Color::accent},
                                                      {0.8500001, 0.8500001, Color::orange},
                                                      {1.7, 1, Color::orange},
                                                      {-0.3, 0, Color::accent},
                                                      {nan, 0, Color::accent},
                                                      {HUGE_VAL, 1, Color::orange}})
    EXPECT_EQ(View::meterBar(fraction), (WidgetBar{shown, tint})) << fraction;
  EXPECT_EQ(View::processorMeter(0.456).value.text, "46%");
  EXPECT_EQ(View::processorMeter(0.005).value.text, "1%") << "half rounds away from zero";
  EXPECT_EQ(View::processorMeter(nan).value.text, "0%");
  auto mem = View::memoryMeter(8ull << 30, 16ull << 30);
  EXPECT_EQ(mem.value.text, "8" + nb + "ГиБ / 16" + nb + "ГиБ");
  EXPECT_EQ(mem.bar.fraction, 0.5);
  EXPECT_EQ(View::memoryMeter(3, 0).bar, (WidgetBar{1, Color::orange})) << "used ÷ 1 for total 0";
  EXPECT_EQ(View::memoryMeter(0, 0).bar.fraction, 0);
  // The bar spans 30 to 110 °C.
  for (auto [celsius, text, fraction, tint] :
       std::vector<std::tuple<double, std::string, double, Color>>{
           {104.6, "105 °C", (104.6 - 30) / 80, Color::orange},
           {20, "20 °C", 0, Color::accent},
           {98, "98 °C", 0.85, Color::accent},
           {98.5, "99 °C", 0.85625, Color::orange},
           {110, "110 °C", 1, Color::orange}}) {
    auto t = View::temperatureMeter(celsius);
    EXPECT_EQ(t.value.text, text);
    EXPECT_DOUBLE_EQ(t.bar.fraction, fraction) << celsius;
    EXPECT_EQ(t.bar.tint, tint) << celsius;
  }
}

TEST(WidgetRows, DisksNetworksAndApps) {
  using S = WidgetSymbol;
  for (const auto& [disk, symbol, used, free] :
       std::vector<std::tuple<WidgetSnapshot::Disk, S, double, std::string>>{
           // Disks count in the same binary units as memory.
           {{"HD", 250ll << 30, 1000ll << 30, false}, S::internalDrive, 0.75, "250" + nb + "ГиБ"},
           {{"USB", 1'500'000'000, 2'000'000'000, true},
            S::externalDrive,
            0.25,
            "1,4" + nb + "ГиБ"},
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
           {Kind::wifi, 866'700'000, S::wifi, "866 Mbit/s"},
           {Kind::ethernet, 2'500'000'000, S::cableConnector, "2.5 Gbit/s"},
           {Kind::ethernet, 1'000'000'000, S::cableConnector, "1.0 Gbit/s"},
           {Kind::vpn, std::nullopt, S::lockShield, std::nullopt},
           {Kind::thunderbolt, 999'999'999, S::cableConnector, "999 Mbit/s"},
           {Kind::other, nan, S::cableConnector, std::nullopt}}) {
    NetworkConnection net;
    net.kind = kind;
    net.linkBitsPerSec = link;
    net.inBytesPerSec = 1.5 * 1048576;
    net.outBytesPerSec = 20'000;
    auto row = View::networkRow(net);
    EXPECT_EQ(row.symbol, symbol);
    EXPECT_EQ(row.speed ? std::optional(row.speed->text) : std::nullopt, speed);
    EXPECT_EQ(row.rates.text, "↓1.5 ↑0.0 MiB/s");
  }
  NetworkConnection unmeasured;  // a rate that could not be measured reads 0, never "nan"
  unmeasured.inBytesPerSec = nan;
  unmeasured.outBytesPerSec = HUGE_VAL;
  EXPECT_EQ(View::networkRow(unmeasured).rates.text, "↓0.0 ↑0.0 MiB/s");

  auto ai = View::appRow({"claude", "/opt/claude", 123.9, 1536ull << 20, true});
  ASSERT_TRUE(ai.badge.has_value());
  EXPECT_EQ(ai.badge->text, "AI");
  EXPECT_EQ(ai.value.text, "123%  1,5" + nb + "ГиБ");  // percent cut, not rounded
  auto app = View::appRow({"Code", "/usr/share/code", 0.99, 0, false});
  EXPECT_FALSE(app.badge.has_value());
  EXPECT_EQ(app.value.text, "0%  0" + nb + "байт");
}

TEST(WidgetFamilies, RowsOfEachSize) {
  // Small: compact header, processor figure, memory, the boot disk.
  auto small = View{record(), Family::small}.body(seconds{0});
  ASSERT_EQ(kinds(small), (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_TRUE(std::get<View::Header>(small.rows[0]).compact);
  EXPECT_EQ(std::get<View::ProcessorFigure>(small.rows[1]).number.text, "46");
  EXPECT_EQ(std::get<View::DiskRow>(small.rows[3]).name.text, "disk0");
  auto noDisks = record();
  noDisks.disks.clear();
  EXPECT_EQ(kinds(View{noDisks, Family::small}.body(seconds{0})), (std::vector<size_t>{0, 1, 2}));

  // Medium: full header, three meters beside two disks, the time.
  auto medium = View{record(), Family::medium}.body(seconds{0});
  ASSERT_EQ(kinds(medium), (std::vector<size_t>{0, 4, 6}));
  EXPECT_FALSE(std::get<View::Header>(medium.rows[0]).compact);
  EXPECT_EQ(std::get<View::Columns>(medium.rows[1]).meters.size(), 3u);
  EXPECT_EQ(std::get<View::Columns>(medium.rows[1]).disks.size(), 2u);
  EXPECT_EQ(std::get<View::TimeLine>(medium.rows[2]).time.text, "15:07");
  auto noTemperature = record();
  noTemperature.cpuCelsius.reset();
  EXPECT_EQ(std::get<View::Columns>(View{noTemperature, Family::medium}.body(seconds{0}).rows[1])
                .meters.size(),
            2u);

  // Large: jobs and time, three disks, network, at most four apps.
  auto s = record();
  for (auto name : {"a3", "a4", "a5"}) s.apps.push_back({name, "/", 1, 1, false});
  auto large = View{s, Family::large}.body(seconds{0});
  ASSERT_EQ(kinds(large), (std::vector<size_t>{0, 5, 4, 7, 8, 9, 10, 10, 10, 10}));
  EXPECT_EQ(std::get<View::JobsLine>(large.rows[1]).jobs.text,
            "AI может параллельно: тяжёлых задач — 3");
  EXPECT_EQ(std::get<View::Columns>(large.rows[2]).disks.size(), 3u);
  s.network.reset();
  s.apps.clear();
  s.disks.resize(1);
  auto bare = View{s, Family::large}.body(seconds{0});
  ASSERT_EQ(kinds(bare), (std::vector<size_t>{0, 5, 4, 8, 9}));  // the heading stays
  EXPECT_EQ(std::get<View::Columns>(bare.rows[2]).disks.size(), 1u);

  for (auto f : {Family::small, Family::medium, Family::large}) {
    auto b = View{std::nullopt, f}.body(seconds{0});
    ASSERT_TRUE(b.placeholder.has_value());
    EXPECT_TRUE(b.rows.empty());
    EXPECT_EQ(b.placeholder->message.text, "Откройте Zemra Norvo");
  }
}

TEST(WidgetFamilies, EnglishForAnEnglishOwner) {
  auto large = View{record(), Family::large, platform::Language::english}.body(seconds{0});
  EXPECT_EQ(std::get<View::Header>(large.rows[0]).title.text, "Computer is busy");
  EXPECT_EQ(std::get<View::JobsLine>(large.rows[1]).jobs.text, "Heavy jobs AI may run at once: 3");
  const auto& columns = std::get<View::Columns>(large.rows[2]);
  EXPECT_EQ(columns.meters[0].label.text, "CPU");
  EXPECT_EQ(columns.meters[1].value.text, "8" + nb + "GiB / 16" + nb + "GiB");
  EXPECT_EQ(columns.disks[0].free.text, "465.66" + nb + "GiB free");
  EXPECT_EQ(std::get<View::Heading>(large.rows[5]).text.text, "Heaviest programs");
  EXPECT_EQ(std::get<View::AppRow>(large.rows[6]).value.text, "123%  1" + nb + "GiB");
  auto none = View{std::nullopt, Family::small, platform::Language::english}.body(seconds{0});
  EXPECT_EQ(none.placeholder->message.text, "Open Zemra Norvo");
}

TEST(LoadProviderTimeline, OneEntryNowReloadAfterFiveMinutes) {
  Date now = sys_days{year{2026} / 3 / 4} + hours{1};
  LoadProvider provider;
  int loads = 0;
  provider.loadRecord = [&] {
    ++loads;
    return std::optional<WidgetSnapshot>(record());
  };
  auto timeline = provider.timeline(now);
  ASSERT_EQ(timeline.entries.size(), 1u);
  EXPECT_EQ(timeline.entries[0].date, now);
  EXPECT_EQ(timeline.entries[0].snapshot, record());
  EXPECT_EQ(timeline.reloadAfter, now + seconds{300});
  EXPECT_EQ(provider.snapshot(now).snapshot, record());
  EXPECT_EQ(loads, 2);
  EXPECT_FALSE(provider.placeholder(now).snapshot.has_value());
  EXPECT_EQ(loads, 2) << "the placeholder reads nothing";

  LoadProvider stored;  // the real road: the shared container of this test process
  std::filesystem::remove(*WidgetSnapshot::url());
  EXPECT_FALSE(stored.timeline(now).entries[0].snapshot.has_value());
  record().save();
  EXPECT_EQ(stored.timeline(now).entries[0].snapshot, record());
  std::filesystem::remove(*WidgetSnapshot::url());

  EXPECT_EQ(LoadWidget::familyView({Date{}, record()}, WidgetFamily::systemExtraLarge).family,
            Family::large);  // no extra large view of its own
}

}  // namespace
}  // namespace norvo
