// The desktop companion's tray icon: a disc in the level's colour, the status
// line as its tooltip, and a menu with the status, what an agent may run now,
// each pending suggestion with its answers and "Show widget". Plain values;
// core/platform/tray_item.hpp puts them on the bus.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/assess/norvo_snapshot.hpp"
#include "core/desktop/owner_question.hpp"
#include "core/platform/owner_language.hpp"
#include "core/platform/tray_item.hpp"

namespace norvo::desktop {

// What a click on a menu entry does.
struct TrayAction {
  enum class Kind { answer, showWidget };
  Kind kind = Kind::showWidget;
  std::string suggestionId;  // with answer
  std::string answer;        // one of the suggestion's own answers

  friend bool operator==(const TrayAction&, const TrayAction&) = default;
};

// The menu, rebuilt whenever the store or the level changes. An entry keeps
// its id for as long as this object lives and an id is never given to
// another entry, so a click that a host sends for a menu it read before a
// change lands on the entry the owner saw, or on nothing.
class TrayMenu {
 public:
  // The root's entries: the status line, the recommended parallel jobs and
  // build threads (labels, not clickable), one submenu per pending question
  // named as its notification is, with the question's answers labelled as
  // its buttons, and "Show widget". Without a snapshot the first label says
  // that nothing is measured yet.
  std::vector<platform::TrayMenuNode> build(const std::optional<NorvoSnapshot>& snapshot,
                                            const std::vector<OwnerQuestion>& pending,
                                            platform::Language language);

  // What a click on `id` of the last menu built does; absent for labels,
  // submenus and ids that menu does not hold.
  std::optional<TrayAction> actionOf(int32_t id) const;

 private:
  int32_t idFor(const std::string& key);
  std::map<std::string, int32_t> ids_;
  std::map<int32_t, TrayAction> actions_;
  int32_t next_ = 1;  // 0 is the menu's root
};

// The icon as a square of `size` pixels: a disc in the level's colour (grey
// with no level) with a smoothed edge, on a transparent ground.
platform::TrayPixmap trayIcon(std::optional<LoadLevel> level, int32_t size);

// Everything the item shows: the icon at the sizes panels ask for, the
// tooltip (the level and CPU usage over the status line), "NeedsAttention"
// while a question waits or the level is critical, and `menu`'s entries.
platform::TrayContent trayContent(const std::optional<NorvoSnapshot>& snapshot,
                                  const std::vector<OwnerQuestion>& pending, TrayMenu& menu,
                                  platform::Language language);

}  // namespace norvo::desktop
