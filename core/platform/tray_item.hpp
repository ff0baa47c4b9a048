// An icon in the desktop's tray or panel: a StatusNotifierItem (the
// protocol of KDE, the GNOME AppIndicator extension, XFCE, Cinnamon and
// waybar's tray) on the session bus, with its menu served as
// com.canonical.dbusmenu by this process itself. The item registers with the
// org.kde.StatusNotifierWatcher and follows it: a host that starts later, or
// restarts, gets the item again. The bus is served on a thread of the item's
// own, so a host's calls are answered while the caller waits on other things;
// menu clicks are handed over through a descriptor the caller polls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace norvo::platform {

// One square image of the icon: ARGB32 pixels, each in network byte order
// (alpha, red, green, blue), row by row.
struct TrayPixmap {
  int32_t size = 0;
  std::vector<uint8_t> argb;

  friend bool operator==(const TrayPixmap&, const TrayPixmap&) = default;
};

// One entry of the menu; an entry with children opens a submenu. Ids are
// the caller's and unique within one menu; 0 is the menu's root.
struct TrayMenuNode {
  int32_t id = 0;
  std::string label;  // plain text, shown as written
  bool enabled = true;
  std::vector<TrayMenuNode> children;

  friend bool operator==(const TrayMenuNode&, const TrayMenuNode&) = default;
};

struct TrayContent {
  std::string id;      // the item's stable name, for hosts that remember items
  std::string title;   // the program's name
  std::string status;  // "Active", "Passive" or "NeedsAttention"
  std::vector<TrayPixmap> icon;
  std::string toolTipTitle;
  std::string toolTipText;
  std::vector<TrayMenuNode> menu;  // the root's children

  friend bool operator==(const TrayContent&, const TrayContent&) = default;
};

class TrayItem {
 public:
  // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS, else the user
  // bus), serves /StatusNotifierItem and /MenuBar with `content`, and
  // registers with a watcher whenever one is on the bus. Absent, with
  // `error` saying why, when the bus cannot be reached or the objects
  // cannot be served.
  static std::unique_ptr<TrayItem> start(const TrayContent& content, std::string& error);
  ~TrayItem();
  TrayItem(const TrayItem&) = delete;
  TrayItem& operator=(const TrayItem&) = delete;

  // False once the bus closed the connection.
  bool connected() const;

  // Whether a StatusNotifierWatcher is on the bus; absent until the bus has
  // said.
  std::optional<bool> watcherPresent() const;

  // Replaces what the item shows, and tells the hosts what changed (NewIcon,
  // NewToolTip, NewStatus, and the menu's LayoutUpdated with a new revision).
  void update(const TrayContent& content);

  // Polls readable when menu clicks wait or the watcher came or went.
  int fd() const;

  // The ids of the menu entries clicked since the last call, in order.
  std::vector<int32_t> takeClicks();

  struct State;

 private:
  explicit TrayItem(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace norvo::platform
