#include "widget/widget_renderer.hpp"

#include <gtest/gtest.h>

#include "widget/widget_images.hpp"
#include "widget/widget_publisher.hpp"

// Fontconfig keeps the font patterns it resolved for pango until the process
// ends and has no call that frees them safely while pango still holds fonts;
// those are caches, not leaks of the widget's own drawing.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace norvo {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;
using Family = LoadWidgetView::Family;
using Kind = NetworkConnection::Kind;

// Everything the widget can show at once: five disks, four apps with one agent,
// a network connection, a temperature and a poor health score.
WidgetSnapshot fullRecord() {
  WidgetSnapshot s;
  s.date = sys_days{year{2026} / 3 / 4} + hours{15} + minutes{7};
  s.level = LoadLevel::critical;
  s.health = 49;
  s.cpu = 0.934;
  s.memoryUsed = (14ull << 30) + (123ull << 20);
  s.memoryTotal = 16ull << 30;
  s.cpuCelsius = 104.6;
  s.jobs = 1;
  s.disks = {{"Macintosh HD", 123'456'789'012, 994'662'584'320, false},
             {"Резервные копии", 1'234'567'890'123, 4'000'000'000'000, true},
             {"USB-флешка", 15'000'000, 32'000'000'000, true},
             {"Фото", 7'000'000'000, 500'000'000'000, true},
             {"Scratch", 0, 250'000'000'000, true}};
  s.apps = {{"Claude", "/opt/Claude", 123.9, (2ull << 30) + (700ull << 20), true},
            {"Visual Studio Code", "/usr/share/code", 87.2, 1536ull << 20, false},
            {"Firefox", "/usr/lib/firefox", 45.5, 3ull << 30, false},
            {"Терминал", "/usr/bin/gnome-terminal", 3.1, 95ull << 20, false}};
  s.network = NetworkConnection{"", "Wi-Fi", Kind::wifi, 2'401'000'000, true, 13e6, 6e5, {}};
  return s;
}

// The pixel size a PNG's header states; {0, 0} when the bytes are not a PNG.
std::pair<int, int> pngSize(const std::string& png) {
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto word = [&](size_t at) {
    int value = 0;
    for (size_t i = at; i < at + 4; ++i) value = value << 8 | static_cast<uint8_t>(png[i]);
    return value;
  };
  return {word(16), word(20)};
}

bool inside(const WidgetBox& inner, const WidgetBox& outer, double slack = 0.01) {
  return inner.x >= outer.x - slack && inner.y >= outer.y - slack &&
         inner.x + inner.width <= outer.x + outer.width + slack &&
         inner.y + inner.height <= outer.y + outer.height + slack;
}

// The checks every rendering must pass: its size, every piece inside the
// margins, every text within the space it was given.
void checkRendering(const WidgetImage& image, Family family, const std::string& label) {
  SCOPED_TRACE(label);
  const auto& r = image.rendering;
  WidgetBox size = widget_renderer::familySize(family);
  EXPECT_EQ(std::pair(r.width, r.height), std::pair(size.width, size.height));
  ASSERT_FALSE(r.items.empty());
  for (const auto& item : r.items) {
    EXPECT_TRUE(inside(item.space, r.content) && inside(item.drawn, r.content)) << item.text;
    if (item.kind != DrawnItem::Kind::text) continue;
    EXPECT_LE(item.drawn.width, item.space.width + 0.01) << item.text;
    EXPECT_GE(item.scale, 0.8) << item.text;
  }
}

// A record whose names and figures are longer than any space for them.
WidgetSnapshot longRecord() {
  auto s = fullRecord();
  s.disks[0].name = std::string(80, 'W');
  s.apps[1].name = "Очень длинное название программы, которое не помещается в строку";
  s.network->name = "Подключение через очень длинный туннель к офису";
  s.memoryUsed = 999ull << 40;  // terabytes in a value column
  s.memoryTotal = 1000ull << 40;
  return s;
}

// Every piece fits; what fits nowhere ends in an ellipsis, and nothing else
// is cut.
TEST(WidgetRendererPng, EveryRecordFitsEveryFamily) {
  const std::pair<const char*, std::optional<WidgetSnapshot>> records[] = {
      {"full", fullRecord()}, {"long", longRecord()}, {"none", std::nullopt}};
  for (auto family : {Family::small, Family::medium, Family::large})
    for (auto appearance : {WidgetAppearance::light, WidgetAppearance::dark})
      for (const auto& [name, record] : records) {
        auto label = std::string(rawValue(family)) +
                     (appearance == WidgetAppearance::dark ? " dark " : " light ") + name;
        auto image = widget_renderer::png(LoadWidgetView{record, family}, appearance);
        checkRendering(image, family, label);
        bool isLong = std::string_view(name) == "long", diskCut = false;
        for (const auto& item : image.rendering.items) {
          EXPECT_TRUE(isLong || !item.cut) << label << ": " << item.text << " was cut";
          diskCut |=
              isLong && item.text == record->disks[0].name && item.cut && item.drawn.width > 0;
        }
        EXPECT_EQ(diskCut, isLong) << label << ": the long disk name ends in an ellipsis";
        WidgetBox size = widget_renderer::familySize(family);
        EXPECT_EQ(pngSize(image.bytes), std::pair(int(size.width * 2), int(size.height * 2)))
            << label;
      }
}

TEST(WidgetPublisher, WritesSixImagesBesideTheRecordAtMostEveryInterval) {
  auto container = *WidgetSnapshot::container();
  fs::remove_all(container);
  NorvoSnapshot snapshot;
  snapshot.assessment.level = LoadLevel::busy;
  widget_publisher::WidgetPublisher publisher(
      seconds{10}, [](const WidgetSnapshot& record, const fs::path& folder) {
        return widget_publisher::refreshImages(record, folder) == 6;
      });
  auto t0 = steady_clock::time_point{} + hours{1};
  EXPECT_TRUE(publisher.publish(snapshot, t0));
  EXPECT_EQ(WidgetSnapshot::load().value_or(WidgetSnapshot{}).level, LoadLevel::busy);
  // Within the interval only the record follows the sample; a new level is
  // drawn once the interval is over, the same level only after the refresh one.
  fs::remove(container / "widget-large.png");
  snapshot.assessment.level = LoadLevel::critical;
  EXPECT_FALSE(publisher.publish(snapshot, t0 + seconds{9}));
  EXPECT_EQ(WidgetSnapshot::load().value_or(WidgetSnapshot{}).level, LoadLevel::critical);
  EXPECT_FALSE(fs::exists(container / "widget-large.png"));
  EXPECT_TRUE(publisher.publish(snapshot, t0 + seconds{10}));
  EXPECT_TRUE(fs::exists(container / "widget-large.png"));
  EXPECT_FALSE(publisher.publish(snapshot, t0 + seconds{309}));
  EXPECT_TRUE(publisher.publish(snapshot, t0 + seconds{310}));
  // No temporary files are left behind by the atomic writes.
  for (const auto& e : fs::directory_iterator(container))
    EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
  fs::remove_all(container);
}

}  // namespace
}  // namespace norvo
