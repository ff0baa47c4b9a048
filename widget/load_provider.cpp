#include "widget/load_provider.hpp"

namespace norvo {

LoadEntry LoadProvider::placeholder(Date now) const { return {now, std::nullopt}; }

LoadEntry LoadProvider::snapshot(Date now) const {
  std::optional<WidgetSnapshot> record;
  if (loadRecord) record = loadRecord();
  return {now, std::move(record)};
}

LoadTimeline LoadProvider::timeline(Date now) const {
  return {{snapshot(now)}, now + reloadInterval};
}

LoadWidgetView LoadWidget::familyView(const LoadEntry& entry, WidgetFamily family,
                                      platform::Language language) {
  LoadWidgetView view;
  view.snapshot = entry.snapshot;
  view.language = language;
  switch (family) {
    case WidgetFamily::systemSmall: view.family = LoadWidgetView::Family::small; break;
    case WidgetFamily::systemMedium: view.family = LoadWidgetView::Family::medium; break;
    default: view.family = LoadWidgetView::Family::large; break;
  }
  return view;
}

}  // namespace norvo
