#include "widget/widget_publisher.hpp"

#include <cstdio>
#include <exception>

namespace norvo::widget_publisher {

bool WidgetPublisher::publish(const NorvoSnapshot& snapshot, Clock::time_point now) {
  auto folder = WidgetSnapshot::container();
  if (!folder) return false;
  try {
    WidgetSnapshot record(snapshot);
    record.save();
    if (lastImages_) {
      auto since = now - *lastImages_;
      bool levelChanged = drawnLevel_ != record.level;
      if (since < imageInterval_ || (!levelChanged && since < refreshInterval_)) return false;
    }
    if (!drawer_ || !drawer_(record, *folder)) return false;
    lastImages_ = now;
    drawnLevel_ = record.level;
    return true;
  } catch (const std::exception& e) {
    // Publishing must never end the loop; the next tick writes everything again.
    std::fprintf(stderr, "zemnorvo: cannot publish the widget: %s\n", e.what());
    return false;
  }
}

}  // namespace norvo::widget_publisher
