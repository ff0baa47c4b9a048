// The widget drawn with characters, for a terminal: the same rows as the
// images, in a box as many columns wide as the family calls for, with colours
// as ANSI escapes when the terminal takes them and plain text otherwise.
#pragma once

#include <string>

#include "widget/load_widget_view.hpp"

namespace norvo::terminal_renderer {

// Columns of text per family: small 26, medium and large 56.
int columns(LoadWidgetView::Family family);

// The lines of the widget, each ending in "\n", no line wider than columns()
// (counted in characters). Colour escapes only when `colour` is true.
std::string render(const LoadWidgetView& view, bool colour);

// True when `fd` is a terminal, TERM is set and not "dumb", and NO_COLOR is unset.
bool supportsColour(int fd);

}  // namespace norvo::terminal_renderer
