#include "widget/widget_icons.hpp"

#include <cmath>
#include <numbers>

namespace norvo::widget_icons {

namespace {

constexpr double pi = std::numbers::pi;

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -pi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, pi / 2);
  cairo_arc(cr, x + r, y + h - r, r, pi / 2, pi);
  cairo_arc(cr, x + r, y + r, r, pi, 3 * pi / 2);
  cairo_close_path(cr);
}

// All shapes below are drawn in a 0…1 box, scaled by the caller.

void gauge(cairo_t* cr) {
  const double cx = 0.5, cy = 0.56, r = 0.42;
  cairo_set_line_width(cr, 0.09);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_arc(cr, cx, cy, r, 0.8 * pi, 2.2 * pi);
  cairo_stroke(cr);
  // The dots of the dial, then the needle at a third of the way round.
  for (int i = 0; i <= 4; ++i) {
    double a = 0.9 * pi + i * (1.2 * pi / 4);
    cairo_arc(cr, cx + 0.27 * std::cos(a), cy + 0.27 * std::sin(a), 0.035, 0, 2 * pi);
    cairo_fill(cr);
  }
  double needle = 0.8 * pi + 0.33 * 1.4 * pi;
  cairo_move_to(cr, cx, cy);
  cairo_line_to(cr, cx + 0.3 * std::cos(needle), cy + 0.3 * std::sin(needle));
  cairo_stroke(cr);
  cairo_arc(cr, cx, cy, 0.07, 0, 2 * pi);
  cairo_fill(cr);
}

void heart(cairo_t* cr) {
  cairo_move_to(cr, 0.5, 0.9);
  cairo_curve_to(cr, 0.1, 0.62, 0.02, 0.42, 0.06, 0.28);
  cairo_curve_to(cr, 0.12, 0.08, 0.4, 0.04, 0.5, 0.26);
  cairo_curve_to(cr, 0.6, 0.04, 0.88, 0.08, 0.94, 0.28);
  cairo_curve_to(cr, 0.98, 0.42, 0.9, 0.62, 0.5, 0.9);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void drive(cairo_t* cr, bool external) {
  cairo_set_line_width(cr, 0.09);
  roundedRect(cr, 0.06, 0.3, 0.88, 0.46, 0.12);
  cairo_stroke(cr);
  cairo_arc(cr, 0.76, 0.53, 0.06, 0, 2 * pi);
  cairo_fill(cr);
  if (external) {
    // The cable that makes it an external drive.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, 0.3, 0.3);
    cairo_curve_to(cr, 0.3, 0.12, 0.12, 0.14, 0.1, 0.06);
    cairo_stroke(cr);
  } else {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, 0.22, 0.53);
    cairo_line_to(cr, 0.52, 0.53);
    cairo_stroke(cr);
  }
}

void wifi(cairo_t* cr) {
  const double cx = 0.5, cy = 0.84;
  cairo_set_line_width(cr, 0.1);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (double r : {0.26, 0.48, 0.7}) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, r, 1.25 * pi, 1.75 * pi);
    cairo_stroke(cr);
  }
  cairo_arc(cr, cx, cy, 0.08, 0, 2 * pi);
  cairo_fill(cr);
}

void lockShield(cairo_t* cr) {
  cairo_set_line_width(cr, 0.08);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_move_to(cr, 0.5, 0.04);
  cairo_curve_to(cr, 0.64, 0.14, 0.8, 0.16, 0.9, 0.16);
  cairo_curve_to(cr, 0.9, 0.6, 0.76, 0.82, 0.5, 0.96);
  cairo_curve_to(cr, 0.24, 0.82, 0.1, 0.6, 0.1, 0.16);
  cairo_curve_to(cr, 0.2, 0.16, 0.36, 0.14, 0.5, 0.04);
  cairo_close_path(cr);
  cairo_stroke(cr);
  roundedRect(cr, 0.33, 0.46, 0.34, 0.26, 0.04);
  cairo_fill(cr);
  cairo_set_line_width(cr, 0.07);
  cairo_arc(cr, 0.5, 0.46, 0.11, pi, 2 * pi);
  cairo_stroke(cr);
}

void cableConnector(cairo_t* cr) {
  cairo_set_line_width(cr, 0.09);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  roundedRect(cr, 0.28, 0.3, 0.44, 0.34, 0.06);
  cairo_fill(cr);
  // Prongs above, cable below.
  for (double x : {0.4, 0.6}) {
    cairo_move_to(cr, x, 0.3);
    cairo_line_to(cr, x, 0.1);
  }
  cairo_move_to(cr, 0.5, 0.64);
  cairo_line_to(cr, 0.5, 0.94);
  cairo_stroke(cr);
}

}  // namespace

void draw(cairo_t* cr, WidgetSymbol symbol, double x, double y, double size) {
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, size, size);
  switch (symbol) {
    case WidgetSymbol::gauge: gauge(cr); break;
    case WidgetSymbol::heartFill: heart(cr); break;
    case WidgetSymbol::internalDrive: drive(cr, false); break;
    case WidgetSymbol::externalDrive: drive(cr, true); break;
    case WidgetSymbol::wifi: wifi(cr); break;
    case WidgetSymbol::lockShield: lockShield(cr); break;
    case WidgetSymbol::cableConnector: cableConnector(cr); break;
  }
  cairo_new_path(cr);
  cairo_restore(cr);
}

}  // namespace norvo::widget_icons
