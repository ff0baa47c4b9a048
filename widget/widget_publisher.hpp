// What the sampling loop calls each tick so that the desktop shows fresh
// figures: the widget record "widget.json" in the shared container, and the
// widget's images beside it (see widget_images.hpp). A round of six images
// costs about as much processor time as a whole sampling tick, and with the
// drawing program's start about three times as much, so they are redrawn
// within `imageInterval` (10 s) of a change of load level, which is what the
// owner must see at once, and otherwise every `refreshInterval` (300 s) for
// the figures, the same five minutes after which the widget reloads its
// record. Drawing needs cairo, pango and fontconfig, whose pages and
// caches would stay resident in the loop for its whole life; the loop
// therefore hands the drawing to an `ImageDrawer`, which in the product starts
// the short-lived drawing program and in tests may draw in-process.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

#include "core/assess/norvo_snapshot.hpp"
#include "core/store/widget_snapshot.hpp"

namespace norvo::widget_publisher {

// Draws (or starts drawing) the images of `record` into `folder`; returns
// whether drawing happened or started. Never throws.
using ImageDrawer =
    std::function<bool(const WidgetSnapshot& record, const std::filesystem::path& folder)>;

// The sampling loop owns one: it remembers when the images were last drawn.
class WidgetPublisher {
 public:
  using Clock = std::chrono::steady_clock;

  WidgetPublisher(std::chrono::seconds imageInterval, ImageDrawer drawer,
                  std::chrono::seconds refreshInterval = std::chrono::seconds{300})
      : imageInterval_(imageInterval),
        refreshInterval_(refreshInterval),
        drawer_(std::move(drawer)) {}

  // Saves the widget record of `snapshot` in the shared container and, when
  // the images are due (see above), has them redrawn beside it. Does
  // nothing without a container; never throws. Returns whether images were
  // drawn (or their drawing started).
  bool publish(const NorvoSnapshot& snapshot, Clock::time_point now = Clock::now());

 private:
  std::chrono::seconds imageInterval_;
  std::chrono::seconds refreshInterval_;
  ImageDrawer drawer_;
  std::optional<Clock::time_point> lastImages_;
  std::optional<LoadLevel> drawnLevel_;
};

}  // namespace norvo::widget_publisher
