#include "widget/widget_renderer.hpp"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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

const Family kFamilies[] = {Family::small, Family::medium, Family::large};
const WidgetAppearance kAppearances[] = {WidgetAppearance::light, WidgetAppearance::dark};

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
  NetworkConnection net;
  net.name = "Wi-Fi";
  net.kind = NetworkConnection::Kind::wifi;
  net.linkBitsPerSec = 2'401'000'000;
  net.primary = true;
  net.inBytesPerSec = 12.34 * 1048576;
  net.outBytesPerSec = 0.56 * 1048576;
  s.network = net;
  return s;
}

// The PNG as cairo decodes it; `at` is one premultiplied ARGB pixel.
struct Pixels {
  std::shared_ptr<cairo_surface_t> surface;
  int width = 0, height = 0;
  uint32_t at(int x, int y) const {
    uint32_t pixel;
    std::memcpy(&pixel,
                cairo_image_surface_get_data(surface.get()) +
                    y * cairo_image_surface_get_stride(surface.get()) + x * 4,
                4);
    return pixel;
  }
};

std::optional<Pixels> decodePng(const std::string& bytes) {
  std::string_view rest = bytes;
  auto read = [](void* closure, unsigned char* data, unsigned int length) {
    auto* r = static_cast<std::string_view*>(closure);
    if (r->size() < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, r->data(), length);
    r->remove_prefix(length);
    return CAIRO_STATUS_SUCCESS;
  };
  Pixels p{{cairo_image_surface_create_from_png_stream(read, &rest), cairo_surface_destroy}};
  if (cairo_surface_status(p.surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  p.width = cairo_image_surface_get_width(p.surface.get());
  p.height = cairo_image_surface_get_height(p.surface.get());
  return p;
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

TEST(WidgetRendererPng, FullRecordAndNoRecordFitEveryFamily) {
  for (auto family : kFamilies)
    for (auto appearance : kAppearances)
      for (bool full : {true, false}) {
        auto label = std::string(rawValue(family)) +
                     (appearance == WidgetAppearance::dark ? " dark " : " light ") +
                     (full ? "full" : "none");
        auto image = widget_renderer::png(
            LoadWidgetView{full ? std::optional(fullRecord()) : std::nullopt, family}, appearance);
        checkRendering(image, family, label);
        for (const auto& item : image.rendering.items)
          EXPECT_FALSE(item.cut) << label << ": " << item.text << " was cut";
        auto pixels = decodePng(image.bytes);
        ASSERT_TRUE(pixels.has_value()) << label;
        int w = pixels->width, h = pixels->height;
        WidgetBox size = widget_renderer::familySize(family);
        EXPECT_EQ(std::pair(w, h), std::pair(int(size.width * 2), int(size.height * 2))) << label;
        // Outside the rounded shape nothing at all; in the margins only the
        // background, so nothing spilled out of the content area.
        for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
          EXPECT_EQ(pixels->at(x, y) >> 24, 0u) << label << " corner " << x << "," << y;
        uint32_t bg = pixels->at(w / 2, 4);
        EXPECT_EQ(bg >> 24, 0xFFu) << label;
        uint32_t luminance = ((bg >> 16) & 0xFF) + ((bg >> 8) & 0xFF) + (bg & 0xFF);
        EXPECT_TRUE(appearance == WidgetAppearance::dark ? luminance < 150 : luminance > 600)
            << label << ": background " << luminance;
        int margin = static_cast<int>(image.rendering.content.x * 2), radius = 40, stray = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            bool inMargin =
                x < margin - 1 || x >= w - margin + 1 || y < margin - 1 || y >= h - margin + 1;
            bool nearCorner = (x < radius || x >= w - radius) && (y < radius || y >= h - radius);
            stray += inMargin && !nearCorner && pixels->at(x, y) != bg;
          }
        EXPECT_EQ(stray, 0) << label << ": pixels drawn in the margins";
      }
}

TEST(WidgetRendererPng, LongTextsShrinkOrAreCutButNeverOverflow) {
  auto s = fullRecord();
  s.disks[0].name = std::string(80, 'W');
  s.apps[1].name = "Очень длинное название программы, которое не помещается в строку";
  s.network->name = "Подключение через очень длинный туннель к офису";
  s.memoryUsed = 999ull << 40;  // terabytes in a value column
  s.memoryTotal = 1000ull << 40;
  for (auto family : kFamilies) {
    auto image = widget_renderer::png({s, family}, WidgetAppearance::light);
    checkRendering(image, family, std::string(rawValue(family)) + " long");
    bool diskCut = false;
    for (const auto& item : image.rendering.items)
      if (item.text == s.disks[0].name) diskCut = item.cut && item.drawn.width > 0;
    EXPECT_TRUE(diskCut) << rawValue(family) << ": the long disk name ends in an ellipsis";
  }
  // A title that only just misses its space is shrunk, not cut.
  s.health = 100;
  std::vector<DrawnItem> titles;
  for (const auto& item :
       widget_renderer::png({s, Family::small}, WidgetAppearance::light).rendering.items)
    if (item.text == "Критическая нагрузка") titles.push_back(item);
  ASSERT_EQ(titles.size(), 1u);
  EXPECT_LT(titles[0].scale, 1);
  EXPECT_GE(titles[0].scale, 0.8);
  EXPECT_FALSE(titles[0].cut);
  EXPECT_LE(titles[0].drawn.width, titles[0].space.width + 0.01);
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
  EXPECT_TRUE(fs::exists(container / "widget-large.png"));
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
