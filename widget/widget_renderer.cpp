#include "widget/widget_renderer.hpp"

#include <cairo-svg.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <variant>
#include <vector>

#include "widget/widget_icons.hpp"

namespace norvo::widget_renderer {

namespace {

using View = LoadWidgetView;

constexpr double kMargin = 14;
constexpr double kCornerRadius = 20;
constexpr double kBarHeight = 4;
constexpr double kColumnSpacing = 14;
constexpr const char* kFontFamily = "DejaVu Sans";

struct Rgba {
  double r, g, b, a;
};

Rgba hex(unsigned rgb, double a = 1) {
  return {((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0, a};
}

// The system's named colours in each appearance.
Rgba color(WidgetColor c, WidgetAppearance ap) {
  bool dark = ap == WidgetAppearance::dark;
  double ink = dark ? 1 : 0;
  switch (c) {
    case WidgetColor::primary: return {ink, ink, ink, 0.85};
    case WidgetColor::secondary: return {ink, ink, ink, dark ? 0.55 : 0.5};
    case WidgetColor::tertiary: return {ink, ink, ink, dark ? 0.35 : 0.3};
    case WidgetColor::accent: return hex(dark ? 0x0A84FF : 0x007AFF);
    case WidgetColor::green: return hex(dark ? 0x32D74B : 0x28CD41);
    case WidgetColor::yellow: return hex(dark ? 0xFFD60A : 0xFFCC00);
    case WidgetColor::orange: return hex(dark ? 0xFF9F0A : 0xFF9500);
    case WidgetColor::red: return hex(dark ? 0xFF453A : 0xFF3B30);
    case WidgetColor::purple: return hex(dark ? 0xBF5AF2 : 0xAF52DE);
  }
  return {ink, ink, ink, 1};
}

Rgba background(WidgetAppearance ap) {
  return ap == WidgetAppearance::dark ? hex(0x1E1E1E) : hex(0xFFFFFF);
}
Rgba track(WidgetAppearance ap) {
  return ap == WidgetAppearance::dark ? Rgba{1, 1, 1, 0.14} : Rgba{0, 0, 0, 0.09};
}

// Text style sizes in points, as the desktop's widgets use them.
double fontSize(WidgetFont f) {
  switch (f) {
    case WidgetFont::title: return 22;
    case WidgetFont::headline: return 13;
    case WidgetFont::callout: return 12;
    case WidgetFont::caption: return 10;
    case WidgetFont::caption2: return 10;
    case WidgetFont::processorFigure: return 34;
  }
  return 10;
}

bool boldByStyle(WidgetFont f) { return f == WidgetFont::headline; }

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
void unrefLayout(PangoLayout* l) { g_object_unref(l); }
using LayoutPtr = std::unique_ptr<PangoLayout, Deleter<PangoLayout, unrefLayout>>;

enum class Align { leading, trailing, center };

struct Measured {
  double lead = 0;  // how far the ink reaches left of the layout's origin
  double width = 0;
  double height = 0;
  double baseline = 0;
};

class Painter {
 public:
  Painter(cairo_t* cr, WidgetAppearance ap, WidgetRendering& out) : cr_(cr), ap_(ap), out_(out) {
    options_ = cairo_font_options_create();
    // Unhinted metrics make a text measure the same at 1× (SVG) and 2× (PNG).
    cairo_font_options_set_hint_metrics(options_, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options_, CAIRO_HINT_STYLE_NONE);
  }
  ~Painter() { cairo_font_options_destroy(options_); }
  Painter(const Painter&) = delete;
  Painter& operator=(const Painter&) = delete;

  WidgetAppearance appearance() const { return ap_; }

  Measured measure(const WidgetText& t, double scale = 1) {
    auto layout = makeLayout(t, scale);
    return extents(layout.get());
  }

  double lineHeight(WidgetFont f) { return measure({"Ag", f}).height; }
  double baseline(WidgetFont f) { return measure({"Ag", f}).baseline; }

  // Draws `t` on one line in the space (x, top, width): shrunk down to its
  // minimum scale if it does not fit, then cut with an ellipsis. Returns the
  // width it took.
  double text(const WidgetText& t, double x, double top, double width, Align align) {
    DrawnItem item{DrawnItem::Kind::text, t.text, {x, top, std::max(width, 0.0), 0}, {}, 1, false};
    double lineH = lineHeight(t.font);
    item.space.height = lineH;
    if (width <= 0 || t.text.empty()) {
      item.cut = !t.text.empty();
      out_.items.push_back(item);
      return 0;
    }
    double scale = 1;
    auto layout = makeLayout(t, scale);
    Measured m = extents(layout.get());
    // Widths do not scale exactly with the size (glyph outlines snap), so
    // shrink step by step until the text fits or reaches its minimum scale.
    for (int attempt = 0; attempt < 6 && m.width > width && scale > t.minimumScale; ++attempt) {
      scale = std::max(t.minimumScale, scale * width / m.width - 0.005);
      layout = makeLayout(t, scale);
      m = extents(layout.get());
    }
    if (m.width > width) {
      // Pango bounds the advance; a glyph's ink may still overhang, so tighten
      // the limit by what spilled over.
      pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
      double limit = width;
      for (int attempt = 0; attempt < 4 && m.width > width && limit > 0; ++attempt) {
        pango_layout_set_width(layout.get(), static_cast<int>(std::floor(limit * PANGO_SCALE)));
        m = extents(layout.get());
        limit -= std::max(m.width - width, 0.25);
      }
      item.cut = true;
    }
    item.scale = scale;
    if (m.width > width + 0.01) {
      // Not even an ellipsis fits: leave the space empty rather than overflow.
      out_.items.push_back(item);
      return 0;
    }
    double dx = align == Align::leading
                    ? 0
                    : (align == Align::trailing ? width - m.width : (width - m.width) / 2);
    double dy = (lineH - m.height) / 2;  // a shrunk text stays on the line's centre
    cairo_save(cr_);
    setSource(color(t.color, ap_));
    cairo_move_to(cr_, x + dx + m.lead, top + dy);
    pango_cairo_show_layout(cr_, layout.get());
    cairo_restore(cr_);
    item.drawn = {x + dx, top + dy, m.width, m.height};
    out_.items.push_back(item);
    return m.width;
  }

  void bar(const WidgetBar& b, double x, double top, double width) {
    width = std::max(width, 0.0);
    cairo_save(cr_);
    capsule(x, top, width, kBarHeight);
    setSource(track(ap_));
    cairo_fill_preserve(cr_);
    cairo_clip(cr_);
    cairo_rectangle(cr_, x, top, width * std::clamp(b.fraction, 0.0, 1.0), kBarHeight);
    setSource(color(b.tint, ap_));
    cairo_fill(cr_);
    cairo_restore(cr_);
    WidgetBox box{x, top, width, kBarHeight};
    out_.items.push_back({DrawnItem::Kind::bar, {}, box, box, 1, false});
  }

  void symbol(WidgetSymbol s, double x, double top, double size, WidgetColor c) {
    cairo_save(cr_);
    setSource(color(c, ap_));
    widget_icons::draw(cr_, s, x, top, size);
    cairo_restore(cr_);
    WidgetBox box{x, top, size, size};
    out_.items.push_back({DrawnItem::Kind::symbol, {}, box, box, 1, false});
  }

  void circle(double x, double top, double diameter, WidgetColor c) {
    cairo_save(cr_);
    setSource(color(c, ap_));
    cairo_arc(cr_, x + diameter / 2, top + diameter / 2, diameter / 2, 0, 2 * std::numbers::pi);
    cairo_fill(cr_);
    cairo_restore(cr_);
    WidgetBox box{x, top, diameter, diameter};
    out_.items.push_back({DrawnItem::Kind::circle, {}, box, box, 1, false});
  }

  void divider(double x, double top, double width) {
    cairo_save(cr_);
    setSource(track(ap_));
    cairo_rectangle(cr_, x, top, width, 1);
    cairo_fill(cr_);
    cairo_restore(cr_);
    WidgetBox box{x, top, width, 1};
    out_.items.push_back({DrawnItem::Kind::divider, {}, box, box, 1, false});
  }

 private:
  LayoutPtr makeLayout(const WidgetText& t, double scale) {
    LayoutPtr layout(pango_cairo_create_layout(cr_));
    PangoContext* ctx = pango_layout_get_context(layout.get());
    pango_cairo_context_set_font_options(ctx, options_);
    pango_context_set_round_glyph_positions(ctx, FALSE);
    pango_layout_context_changed(layout.get());
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, kFontFamily);
    pango_font_description_set_absolute_size(desc, fontSize(t.font) * scale * PANGO_SCALE);
    bool bold = boldByStyle(t.font);
    pango_font_description_set_weight(
        desc,
        bold ? PANGO_WEIGHT_BOLD : (t.semibold ? PANGO_WEIGHT_SEMIBOLD : PANGO_WEIGHT_NORMAL));
    pango_layout_set_font_description(layout.get(), desc);
    pango_font_description_free(desc);
    if (t.monospacedDigits) {
      PangoAttrList* attrs = pango_attr_list_new();
      pango_attr_list_insert(attrs, pango_attr_font_features_new("tnum=1"));
      pango_layout_set_attributes(layout.get(), attrs);
      pango_attr_list_unref(attrs);
    }
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), t.text.c_str(), -1);
    return layout;
  }

  static Measured extents(PangoLayout* layout) {
    PangoRectangle ink, logical;
    pango_layout_get_extents(layout, &ink, &logical);
    // Both the advance and the glyphs' ink count: neither may leave the space.
    int right = std::max({logical.x + logical.width, ink.x + ink.width, 0});
    int left = std::min({logical.x, ink.x, 0});
    return {-left / double(PANGO_SCALE), (right - left) / double(PANGO_SCALE),
            logical.height / double(PANGO_SCALE),
            pango_layout_get_baseline(layout) / double(PANGO_SCALE)};
  }

  void setSource(Rgba c) { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a); }

  void capsule(double x, double y, double w, double h) {
    double r = std::min(h / 2, w / 2);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x + w - r, y + r, r, -std::numbers::pi / 2, std::numbers::pi / 2);
    cairo_arc(cr_, x + r, y + r, r, std::numbers::pi / 2, 3 * std::numbers::pi / 2);
    cairo_close_path(cr_);
  }

  cairo_t* cr_;
  WidgetAppearance ap_;
  WidgetRendering& out_;
  cairo_font_options_t* options_;
};

// Each row knows its height and draws itself into a band of the content.
class RowDrawer {
 public:
  explicit RowDrawer(Painter& p) : p_(p) {}

  double symbolSize(WidgetFont f) { return std::round(fontSize(f) * 1.1); }

  // ---- Heights ----
  double height(const View::Row& row) {
    return std::visit([this](const auto& r) { return heightOf(r); }, row);
  }
  double heightOf(const View::Header& h) {
    return std::max(
        {p_.lineHeight(h.title.font), 9.0, h.health ? p_.lineHeight(h.health->score.font) : 0.0});
  }
  double heightOf(const View::ProcessorFigure& f) {
    // Rows aligned on the first baseline: the tallest ascent plus the deepest descent.
    double ascent = p_.baseline(f.number.font);
    double descent = p_.lineHeight(f.number.font) - ascent;
    return ascent + descent;
  }
  double heightOf(const View::Meter& m) { return p_.lineHeight(m.label.font) + 2 + kBarHeight; }
  double heightOf(const View::DiskRow& d) {
    return p_.lineHeight(d.name.font) + 2 + kBarHeight + 2 + p_.lineHeight(d.free.font);
  }
  double heightOf(const View::Columns& c) {
    double left = 0, right = 0;
    for (size_t i = 0; i < c.meters.size(); ++i) left += (i ? 6 : 0) + heightOf(c.meters[i]);
    for (size_t i = 0; i < c.disks.size(); ++i) right += (i ? 6 : 0) + heightOf(c.disks[i]);
    return std::max(left, right);
  }
  double heightOf(const View::JobsLine& j) {
    return std::max(p_.lineHeight(j.jobs.font), p_.lineHeight(j.time.font));
  }
  double heightOf(const View::TimeLine& t) { return p_.lineHeight(t.time.font); }
  double heightOf(const View::NetworkRow& n) { return p_.lineHeight(n.rates.font); }
  double heightOf(const View::Divider&) { return 1; }
  double heightOf(const View::Heading& h) { return p_.lineHeight(h.text.font); }
  double heightOf(const View::AppRow& a) { return p_.lineHeight(a.name.font); }

  // ---- Drawing ----
  void draw(const View::Row& row, double x, double top, double width) {
    std::visit([&](const auto& r) { drawRow(r, x, top, width); }, row);
  }

  void drawRow(const View::Header& h, double x, double top, double width) {
    double rowH = heightOf(h);
    p_.circle(x, top + (rowH - 9) / 2, 9, h.levelColor);
    double titleX = x + 9 + 6;
    double titleWidth = x + width - titleX;
    if (h.health) {
      double heart = symbolSize(h.health->score.font);
      double score = p_.measure(h.health->score).width;
      double scoreX = x + width - score;
      double heartX = scoreX - 6 - heart;
      double lineH = p_.lineHeight(h.health->score.font);
      double lineTop = top + (rowH - lineH) / 2;
      p_.symbol(WidgetSymbol::heartFill, heartX, lineTop + (lineH - heart) / 2, heart,
                h.health->color);
      p_.text(h.health->score, scoreX, lineTop, score, Align::trailing);
      titleWidth = heartX - 6 - titleX;
    }
    p_.text(h.title, titleX, top + (rowH - p_.lineHeight(h.title.font)) / 2, titleWidth,
            Align::leading);
  }

  void drawRow(const View::ProcessorFigure& f, double x, double top, double width) {
    double base = top + p_.baseline(f.number.font);
    double numberW = std::min(p_.measure(f.number).width, width);
    p_.text(f.number, x, base - p_.baseline(f.number.font), numberW, Align::leading);
    double percentX = x + numberW + 3;
    double percentW = p_.measure(f.percentSign).width;
    double healthStart = x + width;
    if (f.health) {
      double heart = symbolSize(f.health->score.font);
      double score = p_.measure(f.health->score).width;
      double scoreX = x + width - score;
      double heartX = scoreX - 3 - heart;
      double scoreTop = base - p_.baseline(f.health->score.font);
      double capHeight = p_.baseline(f.health->score.font) * 0.75;
      p_.symbol(WidgetSymbol::heartFill, heartX, base - capHeight / 2 - heart / 2, heart,
                f.health->color);
      p_.text(f.health->score, scoreX, scoreTop, score, Align::trailing);
      healthStart = heartX - 3;
    }
    p_.text(f.percentSign, percentX, base - p_.baseline(f.percentSign.font),
            std::min(percentW, healthStart - percentX), Align::leading);
  }

  void drawRow(const View::Meter& m, double x, double top, double width) {
    double valueW = std::min(p_.measure(m.value).width, width);
    p_.text(m.value, x + width - valueW, top, valueW, Align::trailing);
    p_.text(m.label, x, top, width - valueW - 2, Align::leading);
    p_.bar(m.bar, x, top + p_.lineHeight(m.label.font) + 2, width);
  }

  void drawRow(const View::DiskRow& d, double x, double top, double width) {
    double lineH = p_.lineHeight(d.name.font);
    double icon = symbolSize(d.name.font);
    p_.symbol(d.symbol, x, top + (lineH - icon) / 2, icon, WidgetColor::primary);
    p_.text(d.name, x + icon + 3, top, width - icon - 3, Align::leading);
    double barTop = top + lineH + 2;
    p_.bar(d.bar, x, barTop, width);
    p_.text(d.free, x, barTop + kBarHeight + 2, width, Align::leading);
  }

  void drawRow(const View::Columns& c, double x, double top, double width) {
    double columnW = (width - kColumnSpacing) / 2;
    double y = top;
    for (const auto& m : c.meters) {
      drawRow(m, x, y, columnW);
      y += heightOf(m) + 6;
    }
    y = top;
    for (const auto& d : c.disks) {
      drawRow(d, x + columnW + kColumnSpacing, y, columnW);
      y += heightOf(d) + 6;
    }
  }

  void drawRow(const View::JobsLine& j, double x, double top, double width) {
    double timeW = std::min(p_.measure(j.time).width, width);
    p_.text(j.time, x + width - timeW, top, timeW, Align::trailing);
    p_.text(j.jobs, x, top, width - timeW - 4, Align::leading);
  }

  void drawRow(const View::TimeLine& t, double x, double top, double width) {
    p_.text(t.time, x, top, width, Align::trailing);
  }

  void drawRow(const View::NetworkRow& n, double x, double top, double width) {
    double lineH = p_.lineHeight(n.rates.font);
    double ratesW = std::min(p_.measure(n.rates).width, width);
    p_.text(n.rates, x + width - ratesW, top, ratesW, Align::trailing);
    double icon = symbolSize(n.name.font);
    p_.symbol(n.symbol, x, top + (lineH - icon) / 2, icon, WidgetColor::primary);
    double left = x + icon + 4;
    double room = x + width - ratesW - 2 - left;
    double speedW = n.speed ? std::min(p_.measure(*n.speed).width, std::max(room, 0.0)) : 0;
    double nameW = room - (n.speed ? speedW + 4 : 0);
    double nameUsed = p_.text(n.name, left, top, nameW, Align::leading);
    if (n.speed) p_.text(*n.speed, left + nameUsed + 4, top, speedW, Align::leading);
  }

  void drawRow(const View::Divider&, double x, double top, double width) {
    p_.divider(x, top, width);
  }

  void drawRow(const View::Heading& h, double x, double top, double width) {
    p_.text(h.text, x, top, width, Align::leading);
  }

  void drawRow(const View::AppRow& a, double x, double top, double width) {
    double valueW = std::min(p_.measure(a.value).width, width);
    p_.text(a.value, x + width - valueW, top, valueW, Align::trailing);
    double room = width - valueW - 2;
    double badgeW = a.badge ? std::min(p_.measure(*a.badge).width, std::max(room, 0.0)) : 0;
    double nameW = room - (a.badge ? badgeW + 6 : 0);
    double nameUsed = p_.text(a.name, x, top, nameW, Align::leading);
    if (a.badge) {
      double badgeTop = top + (p_.lineHeight(a.name.font) - p_.lineHeight(a.badge->font)) / 2;
      p_.text(*a.badge, x + nameUsed + 6, badgeTop, badgeW, Align::leading);
    }
  }

 private:
  Painter& p_;
};

void drawWidget(cairo_t* cr, const View& view, WidgetAppearance ap, WidgetRendering& out) {
  WidgetBox size = familySize(view.family);
  out.width = size.width;
  out.height = size.height;
  out.content = {kMargin, kMargin, size.width - 2 * kMargin, size.height - 2 * kMargin};

  // The widget's rounded shape, filled with the container background; nothing
  // is painted outside it.
  double r = kCornerRadius, w = size.width, h = size.height;
  cairo_new_sub_path(cr);
  cairo_arc(cr, w - r, r, r, -std::numbers::pi / 2, 0);
  cairo_arc(cr, w - r, h - r, r, 0, std::numbers::pi / 2);
  cairo_arc(cr, r, h - r, r, std::numbers::pi / 2, std::numbers::pi);
  cairo_arc(cr, r, r, r, std::numbers::pi, 3 * std::numbers::pi / 2);
  cairo_close_path(cr);
  Rgba bg = background(ap);
  cairo_set_source_rgba(cr, bg.r, bg.g, bg.b, bg.a);
  cairo_fill_preserve(cr);
  cairo_clip(cr);

  Painter painter(cr, ap, out);
  RowDrawer rows(painter);
  const WidgetBox& c = out.content;
  View::Body body = view.body();

  if (body.placeholder) {
    const auto& ph = *body.placeholder;
    double icon = std::round(fontSize(ph.symbolSize) * 1.1);
    double textH = painter.lineHeight(ph.message.font);
    double top = c.y + (c.height - (icon + 6 + textH)) / 2;
    painter.symbol(ph.symbol, c.x + (c.width - icon) / 2, top, icon, ph.symbolColor);
    painter.text(ph.message, c.x, top + icon + 6, c.width, Align::center);
    return;
  }

  // The column sits in the middle of the widget, as the desktop's container
  // places it; a column taller than the content starts at the top.
  double total = 0;
  for (size_t i = 0; i < body.rows.size(); ++i)
    total += (i > 0 ? body.spacing : 0) + rows.height(body.rows[i]);
  double y = c.y + std::max(0.0, std::floor((c.height - total) / 2));
  for (size_t i = 0; i < body.rows.size(); ++i) {
    if (i > 0) y += body.spacing;
    rows.draw(body.rows[i], c.x, y, c.width);
    y += rows.height(body.rows[i]);
  }
}

cairo_status_t appendTo(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

void appendPng(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), length);
}

// Encodes an ARGB32 surface as an RGBA PNG. Cairo's own writer compresses
// hard, which made the PNG step most of a tick's drawing cost; flat widget
// images compress almost as well with fast settings.
bool encodePng(cairo_surface_t* surface, std::string& out) {
  int w = cairo_image_surface_get_width(surface);
  int h = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  if (!data || w <= 0 || h <= 0) return false;
  // Cairo keeps premultiplied native-endian pixels; PNG wants straight RGBA.
  std::vector<unsigned char> rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t v;
      std::memcpy(&v, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
      unsigned a = v >> 24, r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
      if (a != 0 && a != 255) {
        r = (r * 255 + a / 2) / a;
        g = (g * 255 + a / 2) / a;
        b = (b * 255 + a / 2) / a;
      }
      unsigned char* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = static_cast<unsigned char>(r);
      p[1] = static_cast<unsigned char>(g);
      p[2] = static_cast<unsigned char>(b);
      p[3] = static_cast<unsigned char>(a);
    }
  }
  std::vector<png_bytep> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[static_cast<size_t>(y)] = &rgba[static_cast<size_t>(y) * w * 4];

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, appendPng, nullptr);
  png_set_compression_level(png, 3);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
               PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

WidgetBox familySize(View::Family family) {
  switch (family) {
    case View::Family::small: return {0, 0, 170, 170};
    case View::Family::medium: return {0, 0, 364, 170};
    case View::Family::large: return {0, 0, 364, 382};
  }
  return {0, 0, 364, 382};
}

WidgetImage png(const View& view, WidgetAppearance appearance) {
  WidgetImage image;
  WidgetBox size = familySize(view.family);
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(size.width * pngScale),
                                 static_cast<int>(size.height * pngScale));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, pngScale, pngScale);
  drawWidget(cr, view, appearance, image.rendering);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  if (!encodePng(surface, image.bytes)) image.bytes.clear();
  cairo_surface_destroy(surface);
  return image;
}

WidgetImage svg(const View& view, WidgetAppearance appearance) {
  WidgetImage image;
  WidgetBox size = familySize(view.family);
  cairo_surface_t* surface =
      cairo_svg_surface_create_for_stream(appendTo, &image.bytes, size.width, size.height);
  // CSS pixels, so that a viewer shows the widget at its point size.
  cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PX);
  cairo_t* cr = cairo_create(surface);
  drawWidget(cr, view, appearance, image.rendering);
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) image.bytes.clear();
  cairo_surface_destroy(surface);
  return image;
}

}  // namespace norvo::widget_renderer
