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

const std::string nb = "\u00a0";  // no-break space

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

template <typename T>
std::vector<const T*> rowsOf(const View::Body& b) {
  std::vector<const T*> out;
  for (const auto& r : b.rows)
    if (auto* p = std::get_if<T>(&r)) out.push_back(p);
  return out;
}

std::vector<size_t> kinds(const View::Body& b) {
  std::vector<size_t> out;
  for (const auto& r : b.rows) out.push_back(r.index());
  return out;
}

View::Body bodyOf(const std::optional<WidgetSnapshot>& s, Family f) {
  return View{s, f}.body(seconds{0});
}

TEST(ByteCountFormat, MemoryIsBinaryFileIsDecimalInRussian) {
  using byte_count::Style;
  struct Case {
    uint64_t bytes;
    Style style;
    std::string expected;
  };
  std::vector<Case> cases = {
      {0, Style::file, "0" + nb + "байт"},
      {1, Style::file, "1" + nb + "байт"},
      {2, Style::file, "2" + nb + "байта"},
      {5, Style::file, "5" + nb + "байт"},
      {12, Style::file, "12" + nb + "байт"},
      {22, Style::file, "22" + nb + "байта"},
      {999, Style::file, "999" + nb + "байт"},
      {1000, Style::file, "1" + nb + "КБ"},
      {1000, Style::memory, "1" + nb + "000" + nb + "байт"},
      {1023, Style::memory, "1" + nb + "023" + nb + "байта"},
      {1024, Style::memory, "1" + nb + "КБ"},
      {1499, Style::file, "1" + nb + "КБ"},
      {1500, Style::file, "2" + nb + "КБ"},
      {1'500'000, Style::file, "1,5" + nb + "МБ"},
      {1'000'000, Style::file, "1" + nb + "МБ"},
      {999'999, Style::file, "1" + nb + "МБ"},  // 999.999 КБ rounds up a unit
      {1'234'567'890, Style::file, "1,23" + nb + "ГБ"},
      {1'500'000'000, Style::file, "1,5" + nb + "ГБ"},
      {8ull << 30, Style::memory, "8" + nb + "ГБ"},
      {(16ull << 30) + (1ull << 29), Style::memory, "16,5" + nb + "ГБ"},
      {512ull << 20, Style::memory, "512" + nb + "МБ"},
      {1'999'999'999'999, Style::file, "2" + nb + "ТБ"},
      {3'000'000'000'000'000'000ull, Style::file, "3" + nb + "000" + nb + "ПБ"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(byte_count::format(c.bytes, c.style), c.expected)
        << c.bytes << (c.style == Style::memory ? " memory" : " file");
  EXPECT_EQ(byte_count::format(int64_t{-2'000'000}, Style::file), "-2" + nb + "МБ");
  EXPECT_EQ(byte_count::format(std::numeric_limits<int64_t>::min(), Style::memory),
            "-8" + nb + "192" + nb + "ПБ");
}

TEST(ByteCountFormat, TimeIsTwentyFourHourInTheGivenOffset) {
  Date d = sys_days{year{2026} / 3 / 4} + hours{23} + minutes{7} + seconds{59};
  EXPECT_EQ(byte_count::timeText(d, seconds{0}), "23:07");
  EXPECT_EQ(byte_count::timeText(d, hours{3}), "02:07");
  EXPECT_EQ(byte_count::timeText(d, -hours{5} - minutes{30}), "17:37");
}

TEST(WidgetHeader, TitleAndColourPerLevelAndFontPerSize) {
  struct Case {
    LoadLevel level;
    WidgetColor colour;
    const char* title;
  };
  for (const auto& c :
       std::vector<Case>{{LoadLevel::ok, WidgetColor::green, "Нагрузка в норме"},
                         {LoadLevel::busy, WidgetColor::yellow, "Мак занят"},
                         {LoadLevel::overloaded, WidgetColor::orange, "Мак перегружен"},
                         {LoadLevel::critical, WidgetColor::red, "Критическая нагрузка"}}) {
    auto s = record();
    s.level = c.level;
    for (bool compact : {true, false}) {
      auto h = View::header(s, compact);
      EXPECT_EQ(h.levelColor, c.colour);
      EXPECT_EQ(h.title.text, c.title);
      EXPECT_EQ(h.title.minimumScale, 0.8);
      EXPECT_EQ(h.title.font, compact ? WidgetFont::caption : WidgetFont::headline);
      EXPECT_EQ(h.title.semibold, compact);
      EXPECT_EQ(h.health.has_value(), !compact) << "the compact header never shows health";
    }
  }
}

TEST(WidgetHeader, HealthColourBoundariesAndSmallLabel) {
  struct Case {
    int64_t score;
    WidgetColor header;
    WidgetColor small;
  };
  for (const auto& c : std::vector<Case>{{0, WidgetColor::red, WidgetColor::orange},
                                         {49, WidgetColor::red, WidgetColor::orange},
                                         {50, WidgetColor::orange, WidgetColor::orange},
                                         {79, WidgetColor::orange, WidgetColor::orange},
                                         {80, WidgetColor::green, WidgetColor::green},
                                         {100, WidgetColor::green, WidgetColor::green}}) {
    auto s = record();
    s.health = c.score;
    auto h = View::header(s, false);
    ASSERT_TRUE(h.health.has_value());
    EXPECT_EQ(h.health->color, c.header) << c.score;
    EXPECT_EQ(h.health->score.text, std::to_string(c.score));
    EXPECT_TRUE(h.health->score.monospacedDigits);
    auto f = View::processorFigure(s);
    ASSERT_TRUE(f.health.has_value());
    EXPECT_EQ(f.health->color, c.small) << c.score;
    EXPECT_EQ(f.health->score.color, c.small) << c.score;
  }
  auto s = record();
  s.health.reset();
  EXPECT_FALSE(View::header(s, false).health.has_value());
  EXPECT_FALSE(View::processorFigure(s).health.has_value());
}

TEST(WidgetMeter, FractionClampedNaNAsZeroOrangeAboveThreshold) {
  struct Case {
    double fraction;
    double shown;
    WidgetColor tint;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& c :
       std::vector<Case>{{0.5, 0.5, WidgetColor::accent},
                         {0.85, 0.85, WidgetColor::accent},
                         {0.8500001, 0.8500001, WidgetColor::orange},
                         {1.7, 1, WidgetColor::orange},
                         {-0.3, 0, WidgetColor::accent},
                         {nan, 0, WidgetColor::accent},
                         {std::numeric_limits<double>::infinity(), 1, WidgetColor::orange}}) {
    auto bar = View::meterBar(c.fraction);
    EXPECT_DOUBLE_EQ(bar.fraction, c.shown) << c.fraction;
    EXPECT_EQ(bar.tint, c.tint) << c.fraction;
  }
}

TEST(WidgetMeter, ProcessorMemoryAndTemperatureTexts) {
  auto cpu = View::processorMeter(0.456);
  EXPECT_EQ(cpu.label.text, "Процессор");
  EXPECT_EQ(cpu.value.text, "46%");
  EXPECT_EQ(cpu.value.color, WidgetColor::secondary);
  EXPECT_TRUE(cpu.value.monospacedDigits);
  EXPECT_EQ(View::processorMeter(0.86).bar.tint, WidgetColor::orange);
  EXPECT_EQ(View::processorMeter(0.005).value.text, "1%") << "half rounds away from zero";
  EXPECT_EQ(View::processorMeter(std::nan("")).value.text, "0%");

  auto mem = View::memoryMeter(8ull << 30, 16ull << 30);
  EXPECT_EQ(mem.label.text, "Память");
  EXPECT_EQ(mem.value.text, "8" + nb + "ГБ / 16" + nb + "ГБ");
  EXPECT_DOUBLE_EQ(mem.bar.fraction, 0.5);
  auto noTotal = View::memoryMeter(3, 0);
  EXPECT_DOUBLE_EQ(noTotal.bar.fraction, 1) << "used ÷ 1 when the total is 0";
  EXPECT_EQ(noTotal.bar.tint, WidgetColor::orange);
  EXPECT_DOUBLE_EQ(View::memoryMeter(0, 0).bar.fraction, 0);

  struct Case {
    double celsius;
    const char* text;
    double fraction;
    WidgetColor tint;
  };
  for (const auto& c : std::vector<Case>{{104.6, "105 °C", (104.6 - 30) / 80, WidgetColor::orange},
                                         {30, "30 °C", 0, WidgetColor::accent},
                                         {20, "20 °C", 0, WidgetColor::accent},
                                         {98, "98 °C", 0.85, WidgetColor::accent},
                                         {98.5, "99 °C", 0.85625, WidgetColor::orange},
                                         {110, "110 °C", 1, WidgetColor::orange}}) {
    auto t = View::temperatureMeter(c.celsius);
    EXPECT_EQ(t.label.text, "Температура");
    EXPECT_EQ(t.value.text, c.text);
    EXPECT_DOUBLE_EQ(t.bar.fraction, c.fraction) << c.celsius;
    EXPECT_EQ(t.bar.tint, c.tint) << c.celsius;
  }
}

TEST(WidgetDiskRow, SymbolUsedShareAndFreeText) {
  struct Case {
    WidgetSnapshot::Disk disk;
    WidgetSymbol symbol;
    double used;
    std::string free;
  };
  using S = WidgetSymbol;
  // clang-format off
  std::vector<Case> cases = {
      {{"Macintosh HD", 250'000'000'000, 1'000'000'000'000, false}, S::internalDrive, 0.75, "свободно 250" + nb + "ГБ"},
      {{"USB", 1'500'000'000, 2'000'000'000, true}, S::externalDrive, 0.25, "свободно 1,5" + nb + "ГБ"},
      {{"empty", 0, 0, true}, S::externalDrive, 1, "свободно 0" + nb + "байт"},
      {{"odd", 5, 0, false}, S::internalDrive, 0, "свободно 5" + nb + "байт"},
  };
  // clang-format on
  for (const auto& c : cases) {
    auto row = View::diskRow(c.disk);
    EXPECT_EQ(row.symbol, c.symbol) << c.disk.name;
    EXPECT_EQ(row.name.text, c.disk.name);
    EXPECT_DOUBLE_EQ(row.bar.fraction, c.used) << c.disk.name;
    EXPECT_EQ(row.bar.tint, WidgetColor::accent) << "disks keep the default tint";
    EXPECT_EQ(row.free.text, c.free);
    EXPECT_EQ(row.free.color, WidgetColor::secondary);
  }
}

TEST(WidgetNetworkRow, SymbolSpeedAndRates) {
  using Kind = NetworkConnection::Kind;
  struct Case {
    Kind kind;
    std::optional<double> link;
    WidgetSymbol symbol;
    std::optional<std::string> speed;
  };
  for (const auto& c : std::vector<Case>{
           {Kind::wifi, 866'700'000, WidgetSymbol::wifi, "866 Mbit/s"},
           {Kind::ethernet, 2'500'000'000, WidgetSymbol::cableConnector, "2.5 Gbit/s"},
           {Kind::ethernet, 1'000'000'000, WidgetSymbol::cableConnector, "1.0 Gbit/s"},
           {Kind::vpn, std::nullopt, WidgetSymbol::lockShield, std::nullopt},
           {Kind::thunderbolt, 999'999'999, WidgetSymbol::cableConnector, "999 Mbit/s"},
           {Kind::iphone, 0, WidgetSymbol::cableConnector, "0 Mbit/s"},
           {Kind::other, std::nan(""), WidgetSymbol::cableConnector, std::nullopt}}) {
    NetworkConnection net;
    net.name = "net";
    net.kind = c.kind;
    net.linkBitsPerSec = c.link;
    net.inBytesPerSec = 1.5 * 1048576;
    net.outBytesPerSec = 20'000;
    auto row = View::networkRow(net);
    EXPECT_EQ(row.symbol, c.symbol);
    std::optional<std::string> speed;
    if (row.speed) speed = row.speed->text;
    EXPECT_EQ(speed, c.speed);
    EXPECT_EQ(row.rates.text, "↓1.5 ↑0.0 MB/s");
    EXPECT_EQ(row.rates.color, WidgetColor::secondary);
  }
  // A rate that could not be measured reads 0, never "nan".
  NetworkConnection unmeasured;
  unmeasured.inBytesPerSec = std::nan("");
  unmeasured.outBytesPerSec = HUGE_VAL;
  EXPECT_EQ(View::networkRow(unmeasured).rates.text, "↓0.0 ↑0.0 MB/s");
}

TEST(WidgetAppRow, BadgeForAgentsAndTruncatedPercent) {
  auto ai = View::appRow({"claude", "/opt/claude", 123.9, 1536ull << 20, true});
  ASSERT_TRUE(ai.badge.has_value());
  EXPECT_EQ(ai.badge->text, "AI");
  EXPECT_EQ(ai.badge->color, WidgetColor::purple);
  EXPECT_TRUE(ai.badge->semibold);
  EXPECT_EQ(ai.badge->font, WidgetFont::caption2);
  EXPECT_EQ(ai.value.text, "123%  1,5" + nb + "ГБ");
  EXPECT_EQ(ai.name.text, "claude");
  auto app = View::appRow({"Code", "/usr/share/code", 0.99, 0, false});
  EXPECT_FALSE(app.badge.has_value());
  EXPECT_EQ(app.value.text, "0%  0" + nb + "байт");
}

TEST(WidgetFamilies, SmallShowsCompactHeaderFigureMemoryAndOneDisk) {
  auto b = bodyOf(record(), Family::small);
  EXPECT_EQ(b.spacing, 6);
  EXPECT_FALSE(b.placeholder.has_value());
  ASSERT_EQ(b.rows.size(), 4u);
  EXPECT_TRUE(std::get<View::Header>(b.rows[0]).compact);
  auto& figure = std::get<View::ProcessorFigure>(b.rows[1]);
  EXPECT_EQ(figure.number.text, "46");
  EXPECT_EQ(figure.number.font, WidgetFont::processorFigure);
  EXPECT_EQ(figure.percentSign.text, "%");
  EXPECT_EQ(std::get<View::Meter>(b.rows[2]).label.text, "Память");
  EXPECT_EQ(std::get<View::DiskRow>(b.rows[3]).name.text, "disk0");

  auto noDisks = record();
  noDisks.disks.clear();
  auto nb2 = bodyOf(noDisks, Family::small);
  EXPECT_EQ(nb2.rows.size(), 3u);
  EXPECT_TRUE(rowsOf<View::DiskRow>(nb2).empty());
}

TEST(WidgetFamilies, MediumShowsColumnsWithTwoDisksAndTheTime) {
  auto b = bodyOf(record(), Family::medium);
  ASSERT_EQ(b.rows.size(), 3u);
  auto& header = std::get<View::Header>(b.rows[0]);
  EXPECT_FALSE(header.compact);
  ASSERT_TRUE(header.health.has_value());
  EXPECT_EQ(header.health->color, WidgetColor::red);
  auto& columns = std::get<View::Columns>(b.rows[1]);
  ASSERT_EQ(columns.meters.size(), 3u);
  EXPECT_EQ(columns.meters[2].label.text, "Температура");
  ASSERT_EQ(columns.disks.size(), 2u);
  EXPECT_EQ(columns.disks[1].name.text, "disk1");
  auto& time = std::get<View::TimeLine>(b.rows[2]);
  EXPECT_EQ(time.time.text, "15:07");
  EXPECT_EQ(time.time.color, WidgetColor::tertiary);

  auto noTemperature = record();
  noTemperature.cpuCelsius.reset();
  EXPECT_EQ(std::get<View::Columns>(bodyOf(noTemperature, Family::medium).rows[1]).meters.size(),
            2u);
}

TEST(WidgetFamilies, LargeShowsJobsThreeDisksNetworkAndApps) {
  auto s = record();
  s.apps.push_back({"a3", "/a3", 1, 1, false});
  s.apps.push_back({"a4", "/a4", 1, 1, false});
  s.apps.push_back({"a5", "/a5", 1, 1, false});  // a record from elsewhere may hold more
  auto b = bodyOf(s, Family::large);
  EXPECT_EQ(b.spacing, 7);
  std::vector<size_t> expected = {0, 5, 4, 7, 8, 9, 10, 10, 10, 10};
  EXPECT_EQ(kinds(b), expected);
  auto& jobs = std::get<View::JobsLine>(b.rows[1]);
  EXPECT_EQ(jobs.jobs.text, "AI может параллельно: тяжёлых задач — 3");
  EXPECT_EQ(jobs.time.text, "15:07");
  EXPECT_EQ(std::get<View::Columns>(b.rows[2]).disks.size(), 3u);
  EXPECT_EQ(std::get<View::Heading>(b.rows[5]).text.text, "Тяжёлые программы");
  EXPECT_TRUE(std::get<View::AppRow>(b.rows[6]).badge.has_value());
  EXPECT_FALSE(std::get<View::AppRow>(b.rows[7]).badge.has_value());

  s.network.reset();
  s.apps.clear();
  s.disks.resize(1);
  auto bare = bodyOf(s, Family::large);
  EXPECT_TRUE(rowsOf<View::NetworkRow>(bare).empty());
  EXPECT_TRUE(rowsOf<View::AppRow>(bare).empty());
  EXPECT_EQ(rowsOf<View::Divider>(bare).size(), 1u);
  EXPECT_EQ(std::get<View::Columns>(bare.rows[2]).disks.size(), 1u);
}

TEST(WidgetFamilies, NoRecordAsksToOpenTheAppInEverySize) {
  for (auto f : {Family::small, Family::medium, Family::large}) {
    auto b = bodyOf(std::nullopt, f);
    ASSERT_TRUE(b.placeholder.has_value());
    EXPECT_TRUE(b.rows.empty());
    EXPECT_EQ(b.placeholder->symbol, WidgetSymbol::gauge);
    EXPECT_EQ(b.placeholder->message.text, "Откройте Zemra Norvo");
    EXPECT_EQ(b.placeholder->message.font, WidgetFont::caption);
    EXPECT_EQ(b.placeholder->message.color, WidgetColor::secondary);
    EXPECT_EQ(b.placeholder->symbolColor, WidgetColor::secondary);
  }
}

TEST(LoadProviderTimeline, OneEntryNowAndReloadAfterFiveMinutes) {
  Date now = sys_days{year{2026} / 3 / 4} + hours{1};
  LoadProvider provider;
  int loads = 0;
  provider.loadRecord = [&] {
    ++loads;
    return std::optional<WidgetSnapshot>(record());
  };
  auto placeholder = provider.placeholder(now);
  EXPECT_EQ(placeholder.date, now);
  EXPECT_FALSE(placeholder.snapshot.has_value());
  EXPECT_EQ(loads, 0) << "the placeholder reads nothing";

  auto timeline = provider.timeline(now);
  ASSERT_EQ(timeline.entries.size(), 1u);
  EXPECT_EQ(timeline.entries[0].date, now);
  EXPECT_EQ(timeline.entries[0].snapshot, record());
  EXPECT_EQ(timeline.reloadAfter, now + seconds{300});
  EXPECT_EQ(provider.snapshot(now).snapshot, record());
  EXPECT_EQ(loads, 2);

  LoadProvider stored;  // the real road: the shared container of this test process
  EXPECT_FALSE(stored.timeline(now).entries[0].snapshot.has_value());
  record().save();
  EXPECT_EQ(stored.timeline(now).entries[0].snapshot, record());
  std::filesystem::remove(*WidgetSnapshot::url());
}

TEST(LoadProviderTimeline, WidgetIdentityAndFamilies) {
  EXPECT_EQ(LoadWidget::kind, "ZemraNorvoLoad");
  EXPECT_EQ(LoadWidget::displayName, "Нагрузка Mac");
  EXPECT_EQ(LoadWidget::description,
            "Процессор, память, диски, температура и самые тяжёлые программы.");
  EXPECT_EQ(std::size(LoadWidget::supportedFamilies), 3u);
  LoadEntry entry{Date{}, record()};
  EXPECT_EQ(LoadWidget::familyView(entry, WidgetFamily::systemSmall).family, Family::small);
  EXPECT_EQ(LoadWidget::familyView(entry, WidgetFamily::systemMedium).family, Family::medium);
  EXPECT_EQ(LoadWidget::familyView(entry, WidgetFamily::systemLarge).family, Family::large);
  EXPECT_EQ(LoadWidget::familyView(entry, WidgetFamily::systemExtraLarge).family, Family::large);
  EXPECT_EQ(LoadWidget::familyView(entry, WidgetFamily::systemSmall).snapshot, record());
}

}  // namespace
}  // namespace norvo
