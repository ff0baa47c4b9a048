// What the sampling loop calls each tick so that the desktop shows fresh
// figures: the widget record "widget.json" in the shared container, and the
// widget's images beside it (see widget_images.hpp), redrawn at most every
// `imageInterval`. Drawing needs cairo, pango and fontconfig, whose pages and
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

  WidgetPublisher(std::chrono::seconds imageInterval, ImageDrawer drawer)
      : imageInterval_(imageInterval), drawer_(std::move(drawer)) {}

  // Saves the widget record of `snapshot` in the shared container and, when
  // the images are older than the interval, has them redrawn beside it. Does
  // nothing without a container; never throws. Returns whether images were
  // drawn (or their drawing started).
  bool publish(const NorvoSnapshot& snapshot, Clock::time_point now = Clock::now());

 private:
  std::chrono::seconds imageInterval_;
  ImageDrawer drawer_;
  std::optional<Clock::time_point> lastImages_;
};

}  // namespace norvo::widget_publisher
