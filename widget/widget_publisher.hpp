// What the sampling loop calls each tick so that the desktop shows fresh
// figures: the widget record "widget.json" and, beside it in the shared
// container, a PNG of each family in both appearances for desktop hosts that
// can only show an image (conky, a GNOME or KDE picture widget, a bar module):
//   widget-small.png   widget-medium.png   widget-large.png        (light)
//   widget-small-dark.png  widget-medium-dark.png  widget-large-dark.png
// Every file is replaced atomically, so a host never shows half an image.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/measure/norvo_snapshot.hpp"
#include "core/store/widget_snapshot.hpp"
#include "widget/load_widget_view.hpp"
#include "widget/widget_renderer.hpp"

namespace norvo::widget_publisher {

// "widget-<family>.png", or "widget-<family>-dark.png".
std::string imageName(LoadWidgetView::Family family, WidgetAppearance appearance);

// Renders the six images of `record` (the no-record view when absent) into
// `folder`, creating it. Returns how many were written; never throws.
int refreshImages(const std::optional<WidgetSnapshot>& record, const std::filesystem::path& folder);

// Saves the widget record of `snapshot` and refreshes the images beside it, in
// the shared container. Does nothing without a container; never throws.
void publish(const NorvoSnapshot& snapshot);

}  // namespace norvo::widget_publisher
