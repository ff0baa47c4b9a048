// The widget's images for desktop hosts that can only show a picture (conky,
// a GNOME or KDE picture widget, a bar module), drawn into the shared
// container beside "widget.json":
//   widget-small.png   widget-medium.png   widget-large.png        (light)
//   widget-small-dark.png  widget-medium-dark.png  widget-large-dark.png
// Every file is replaced atomically, so a host never shows half an image.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/store/widget_snapshot.hpp"
#include "widget/load_widget_view.hpp"
#include "widget/widget_renderer.hpp"

namespace norvo::widget_publisher {

// "widget-<family>.png", or "widget-<family>-dark.png".
std::string imageName(LoadWidgetView::Family family, WidgetAppearance appearance);

// Renders the six images of `record` (the no-record view when absent) into
// `folder`, creating it. Returns how many were written; never throws.
int refreshImages(const std::optional<WidgetSnapshot>& record, const std::filesystem::path& folder);

}  // namespace norvo::widget_publisher
