// The widget's own small vector icons, drawn as cairo paths so that no icon
// font has to be installed. Each icon fills or strokes a square box with the
// context's current source colour.
#pragma once

#include <cairo.h>

#include "widget/load_widget_view.hpp"

namespace norvo::widget_icons {

// Draws `symbol` into the square at (x, y) with side `size`, in user units.
// The context's state (path, line width, source) is restored afterwards.
void draw(cairo_t* cr, WidgetSymbol symbol, double x, double y, double size);

}  // namespace norvo::widget_icons
