// What the sampling loop calls each tick so that the desktop shows fresh
// figures: the widget record "widget.json" and, beside it in the shared
// container, a PNG of each family in both appearances for desktop hosts that
// can only show an image (conky, a GNOME or KDE picture widget, a bar module):
//   widget-small.png   widget-medium.png   widget-large.png        (light)
//   widget-small-dark.png  widget-medium-dark.png  widget-large-dark.png
// Every file is replaced atomically, so a host never shows half an image.
// Drawing six images costs a noticeable slice of a processor, more than the
// JSON record, so the images are redrawn at most every `imageInterval`.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "core/assess/norvo_snapshot.hpp"
#include "core/store/widget_snapshot.hpp"
#include "widget/load_widget_view.hpp"
#include "widget/widget_renderer.hpp"

namespace norvo::widget_publisher {

// "widget-<family>.png", or "widget-<family>-dark.png".
std::string imageName(LoadWidgetView::Family family, WidgetAppearance appearance);

// Renders the six images of `record` (the no-record view when absent) into
// `folder`, creating it. Returns how many were written; never throws.
int refreshImages(const std::optional<WidgetSnapshot>& record, const std::filesystem::path& folder);

// The sampling loop owns one: it remembers when the images were last drawn.
class WidgetPublisher {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WidgetPublisher(std::chrono::seconds imageInterval = std::chrono::seconds{10})
      : imageInterval_(imageInterval) {}

  // Saves the widget record of `snapshot` in the shared container and, when
  // the images are older than the interval, redraws them beside it. Does
  // nothing without a container; never throws. Returns whether images were drawn.
  bool publish(const NorvoSnapshot& snapshot, Clock::time_point now = Clock::now());

 private:
  std::chrono::seconds imageInterval_;
  std::optional<Clock::time_point> lastImages_;
};

}  // namespace norvo::widget_publisher
