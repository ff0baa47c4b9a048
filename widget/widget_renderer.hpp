// Draws the widget's view model as an image the size of a desktop widget:
// PNG (at twice the point size, for sharp text on dense screens) and SVG (in
// points as CSS pixels), light or dark, with real text layout (cairo + pango,
// DejaVu Sans) and the widget's own vector icons. Every drawn piece is also
// reported with the box it was given and the size it took, so tests can check
// that nothing leaves the widget and no text overflows its space.
#pragma once

#include <string>
#include <vector>

#include "widget/load_widget_view.hpp"

namespace norvo {

enum class WidgetAppearance { light, dark };

struct WidgetBox {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct DrawnItem {
  enum class Kind { text, bar, symbol, circle, divider };
  Kind kind = Kind::text;
  std::string text;  // texts only, as given (before any cut)
  WidgetBox space;   // the space the layout gave the item
  WidgetBox drawn;   // what it took: for texts the measured extents at the final size
  double scale = 1;  // texts: the shrink applied
  bool cut = false;  // texts: ended with an ellipsis
};

struct WidgetRendering {
  double width = 0;   // points
  double height = 0;  // points
  WidgetBox content;  // inside the margins
  std::vector<DrawnItem> items;
};

struct WidgetImage {
  std::string bytes;
  WidgetRendering rendering;
};

namespace widget_renderer {

// The point sizes of the desktop's small, medium and large widgets.
WidgetBox familySize(LoadWidgetView::Family family);

constexpr double pngScale = 2;

// A PNG of familySize × pngScale pixels; transparent outside the rounded
// widget shape.
WidgetImage png(const LoadWidgetView& view, WidgetAppearance appearance);

// An SVG document of familySize in CSS pixels.
WidgetImage svg(const LoadWidgetView& view, WidgetAppearance appearance);

}  // namespace widget_renderer
}  // namespace norvo
