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
    if (lastImages_ && now - *lastImages_ < imageInterval_) return false;
    if (!drawer_ || !drawer_(record, *folder)) return false;
    lastImages_ = now;
    return true;
  } catch (const std::exception& e) {
    // Publishing must never end the loop; the next tick writes everything again.
    std::fprintf(stderr, "zemnorvo: cannot publish the widget: %s\n", e.what());
    return false;
  }
}

}  // namespace norvo::widget_publisher
