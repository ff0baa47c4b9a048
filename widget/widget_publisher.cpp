#include "widget/widget_publisher.hpp"

#include "core/platform/record_file.hpp"

namespace norvo::widget_publisher {

std::string imageName(LoadWidgetView::Family family, WidgetAppearance appearance) {
  return "widget-" + std::string(rawValue(family)) +
         (appearance == WidgetAppearance::dark ? "-dark" : "") + ".png";
}

int refreshImages(const std::optional<WidgetSnapshot>& record,
                  const std::filesystem::path& folder) {
  int written = 0;
  for (auto family : {LoadWidgetView::Family::small, LoadWidgetView::Family::medium,
                      LoadWidgetView::Family::large}) {
    for (auto appearance : {WidgetAppearance::light, WidgetAppearance::dark}) {
      try {
        auto image = widget_renderer::png(LoadWidgetView{record, family}, appearance);
        if (!image.bytes.empty() &&
            record_file::writeAtomically(folder / imageName(family, appearance), image.bytes))
          ++written;
      } catch (...) {
        // A failed image leaves the previous one in place; the next tick retries.
      }
    }
  }
  return written;
}

bool WidgetPublisher::publish(const NorvoSnapshot& snapshot, Clock::time_point now) {
  auto folder = WidgetSnapshot::container();
  if (!folder) return false;
  try {
    WidgetSnapshot record(snapshot);
    record.save();
    if (lastImages_ && now - *lastImages_ < imageInterval_) return false;
    lastImages_ = now;
    refreshImages(record, *folder);
    return true;
  } catch (...) {
    // Publishing is best effort: the loop's own work must go on.
    return false;
  }
}

}  // namespace norvo::widget_publisher
