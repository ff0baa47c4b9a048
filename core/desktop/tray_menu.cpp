#include "core/desktop/tray_menu.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "core/assess/compact.hpp"
#include "core/desktop/status_bar.hpp"

namespace norvo::desktop {

namespace {

using platform::Language;
using platform::TrayMenuNode;

constexpr int32_t kIconSizes[] = {22, 32, 48};

std::string notMeasured(bool en) {
  return en ? "Nothing measured yet: start zemnorvo watch"
            : "Измерений ещё нет: запустите zemnorvo watch";
}

struct Rgb {
  uint8_t r = 0x8E, g = 0x8E, b = 0x93;  // the widget's secondary grey
};

Rgb rgbOf(std::string_view hex) {
  Rgb c;
  auto byte = [&](size_t at) {
    return static_cast<uint8_t>(std::stoul(std::string(hex.substr(at, 2)), nullptr, 16));
  };
  if (hex.size() == 7 && hex[0] == '#') c = {byte(1), byte(3), byte(5)};
  return c;
}

}  // namespace

int32_t TrayMenu::idFor(const std::string& key) {
  auto [it, added] = ids_.try_emplace(key, next_);
  if (added) ++next_;
  return it->second;
}

std::vector<TrayMenuNode> TrayMenu::build(const std::optional<NorvoSnapshot>& snapshot,
                                          const std::vector<OwnerQuestion>& pending,
                                          Language language) {
  bool en = language == Language::english;
  actions_.clear();
  std::vector<TrayMenuNode> menu;
  auto label = [&](const std::string& key, std::string text) {
    menu.push_back({idFor(key), std::move(text), false, {}});
  };
  if (!snapshot) {
    label("status", notMeasured(en));
  } else {
    const auto& a = snapshot->assessment;
    label("status", Compact::line(*snapshot));
    label("jobs", fmt::format(fmt::runtime(en ? "Recommended parallel jobs: {}"
                                              : "Рекомендуется параллельных задач: {}"),
                              a.recommendedParallelJobs));
    label("threads", fmt::format(fmt::runtime(en ? "Recommended build threads: {}"
                                                 : "Рекомендуется потоков сборки: {}"),
                                 a.recommendedBuildThreads));
  }
  for (const auto& q : pending) {
    // The notification's own summary and button labels, so the menu and the
    // notification ask in the same words.
    auto notice = noticeFor(q, language, true);
    TrayMenuNode submenu{idFor("question\n" + q.id), notice.summary, true, {}};
    for (const auto& [answer, text] : notice.actions) {
      if (answer == defaultAction) continue;
      int32_t id = idFor("answer\n" + q.id + "\n" + answer);
      submenu.children.push_back({id, text, true, {}});
      actions_[id] = {TrayAction::Kind::answer, q.id, answer};
    }
    menu.push_back(std::move(submenu));
  }
  int32_t show = idFor("show widget");
  menu.push_back({show, en ? "Show widget" : "Показать виджет", true, {}});
  actions_[show] = {TrayAction::Kind::showWidget, "", ""};
  return menu;
}

std::optional<TrayAction> TrayMenu::actionOf(int32_t id) const {
  auto found = actions_.find(id);
  if (found == actions_.end()) return std::nullopt;
  return found->second;
}

platform::TrayPixmap trayIcon(std::optional<LoadLevel> level, int32_t size) {
  Rgb c = level ? rgbOf(status_bar::levelColour(*level)) : Rgb{};
  platform::TrayPixmap p{std::max(size, 0), {}};
  p.argb.resize(static_cast<size_t>(p.size) * p.size * 4);
  double centre = p.size / 2.0, radius = p.size * 0.4;
  for (int32_t y = 0; y < p.size; ++y)
    for (int32_t x = 0; x < p.size; ++x) {
      // Coverage of the pixel by the disc, one pixel of ramp at the edge.
      double d = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
      double cover = std::clamp(radius - d + 0.5, 0.0, 1.0);
      auto alpha = static_cast<uint8_t>(std::lround(cover * 255));
      uint8_t* px = &p.argb[(static_cast<size_t>(y) * p.size + x) * 4];
      // Straight, not premultiplied, alpha: what the item's hosts read.
      px[0] = alpha;
      px[1] = alpha ? c.r : 0;
      px[2] = alpha ? c.g : 0;
      px[3] = alpha ? c.b : 0;
    }
  return p;
}

platform::TrayContent trayContent(const std::optional<NorvoSnapshot>& snapshot,
                                  const std::vector<OwnerQuestion>& pending, TrayMenu& menu,
                                  Language language) {
  bool en = language == Language::english;
  platform::TrayContent c;
  c.id = "zemnorvo";
  c.title = "Zemra Norvo";
  std::optional<LoadLevel> level;
  if (snapshot) level = snapshot->assessment.level;
  bool attention = !pending.empty() || level == LoadLevel::critical;
  c.status = attention ? "NeedsAttention" : "Active";
  for (int32_t size : kIconSizes) c.icon.push_back(trayIcon(level, size));
  c.toolTipTitle =
      snapshot ? "Zemra Norvo: " + status_bar::text(*snapshot, language) : "Zemra Norvo";
  c.toolTipText = snapshot ? Compact::line(*snapshot) : notMeasured(en);
  c.menu = menu.build(snapshot, pending, language);
  return c;
}

}  // namespace norvo::desktop
