// The widget's side of the timeline: what the desktop host asks for and when it
// asks again. The widget measures nothing; each request loads the record the
// sampling loop last saved and asks to be reloaded five minutes later. An old
// record is shown like a fresh one, with its own time in the larger sizes.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "core/store/widget_snapshot.hpp"
#include "widget/load_widget_view.hpp"

namespace norvo {

struct LoadEntry {
  Date date{};
  std::optional<WidgetSnapshot> snapshot;
};

struct LoadTimeline {
  std::vector<LoadEntry> entries;
  Date reloadAfter{};  // the host asks for a new timeline at this time
};

// The sizes a desktop host may ask for; the widget supports the first three.
enum class WidgetFamily { systemSmall, systemMedium, systemLarge, systemExtraLarge };

struct LoadProvider {
  static constexpr std::chrono::seconds reloadInterval{300};

  // Where records come from; WidgetSnapshot::load() unless a test swaps it.
  std::function<std::optional<WidgetSnapshot>()> loadRecord = [] { return WidgetSnapshot::load(); };

  // An entry dated `now` with no record, shown before anything is loaded.
  LoadEntry placeholder(Date now) const;
  // An entry dated `now` with the stored record (absent when none can be read).
  LoadEntry snapshot(Date now) const;
  // One such entry, and a reload at now + 300 s.
  LoadTimeline timeline(Date now) const;
};

struct LoadWidget {
  static constexpr std::string_view kind = "ZemraNorvoLoad";
  // The gallery's name and description are in widgetTexts().
  static constexpr WidgetFamily supportedFamilies[] = {
      WidgetFamily::systemSmall, WidgetFamily::systemMedium, WidgetFamily::systemLarge};

  // The view of an entry at the host's size: small and medium as they are,
  // every other size drawn as large; in the owner's language.
  static LoadWidgetView familyView(const LoadEntry& entry, WidgetFamily family,
                                   platform::Language language = platform::ownerLanguage());
};

}  // namespace norvo
