// GDBus serves both objects. The dbusmenu side is served here rather than
// through libdbusmenu-glib: the protocol needs a handful of methods over one
// small tree, and that library's Debian development package pulls the GTK 2
// headers into the build.
//
// The bus runs on a thread of the item's own with its own main context, so
// hosts get their answers while the companion sleeps in the notification
// client's wait; what both threads touch sits behind one mutex, and clicks
// reach the caller through an eventfd.
#include <gio/gio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <thread>

#include "core/platform/linux/session_bus.hpp"
#include "core/platform/tray_item.hpp"

namespace norvo::platform {

namespace {

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr int kCallTimeoutMs = 5000;

constexpr const char* kInterfaces = R"xml(<node>
 <interface name="org.kde.StatusNotifierItem">
  <property name="Category" type="s" access="read"/>
  <property name="Id" type="s" access="read"/>
  <property name="Title" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="WindowId" type="i" access="read"/>
  <property name="IconThemePath" type="s" access="read"/>
  <property name="IconName" type="s" access="read"/>
  <property name="IconPixmap" type="a(iiay)" access="read"/>
  <property name="OverlayIconName" type="s" access="read"/>
  <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionIconName" type="s" access="read"/>
  <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionMovieName" type="s" access="read"/>
  <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
  <property name="ItemIsMenu" type="b" access="read"/>
  <property name="Menu" type="o" access="read"/>
  <method name="ContextMenu"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
  <method name="Activate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
  <method name="SecondaryActivate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
  <method name="Scroll"><arg type="i" direction="in"/><arg type="s" direction="in"/></method>
  <signal name="NewTitle"/>
  <signal name="NewIcon"/>
  <signal name="NewAttentionIcon"/>
  <signal name="NewOverlayIcon"/>
  <signal name="NewToolTip"/>
  <signal name="NewStatus"><arg type="s"/></signal>
 </interface>
 <interface name="com.canonical.dbusmenu">
  <property name="Version" type="u" access="read"/>
  <property name="TextDirection" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="IconThemePath" type="as" access="read"/>
  <method name="GetLayout">
   <arg name="parentId" type="i" direction="in"/>
   <arg name="recursionDepth" type="i" direction="in"/>
   <arg name="propertyNames" type="as" direction="in"/>
   <arg name="revision" type="u" direction="out"/>
   <arg name="layout" type="(ia{sv}av)" direction="out"/>
  </method>
  <method name="GetGroupProperties">
   <arg name="ids" type="ai" direction="in"/>
   <arg name="propertyNames" type="as" direction="in"/>
   <arg name="properties" type="a(ia{sv})" direction="out"/>
  </method>
  <method name="GetProperty">
   <arg name="id" type="i" direction="in"/>
   <arg name="name" type="s" direction="in"/>
   <arg name="value" type="v" direction="out"/>
  </method>
  <method name="Event">
   <arg name="id" type="i" direction="in"/>
   <arg name="eventId" type="s" direction="in"/>
   <arg name="data" type="v" direction="in"/>
   <arg name="timestamp" type="u" direction="in"/>
  </method>
  <method name="EventGroup">
   <arg name="events" type="a(isvu)" direction="in"/>
   <arg name="idErrors" type="ai" direction="out"/>
  </method>
  <method name="AboutToShow">
   <arg name="id" type="i" direction="in"/>
   <arg name="needUpdate" type="b" direction="out"/>
  </method>
  <method name="AboutToShowGroup">
   <arg name="ids" type="ai" direction="in"/>
   <arg name="updatesNeeded" type="ai" direction="out"/>
   <arg name="idErrors" type="ai" direction="out"/>
  </method>
  <signal name="ItemsPropertiesUpdated">
   <arg name="updatedProps" type="a(ia{sv})"/>
   <arg name="removedProps" type="a(ias)"/>
  </signal>
  <signal name="LayoutUpdated">
   <arg name="revision" type="u"/>
   <arg name="parent" type="i"/>
  </signal>
  <signal name="ItemActivationRequested">
   <arg name="id" type="i"/>
   <arg name="timestamp" type="u"/>
  </signal>
 </interface>
</node>)xml";

// dbusmenu reads one underscore as the mark of a mnemonic; a label is shown
// as written, so each one is doubled.
std::string menuLabel(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '_') out += '_';
  }
  return out;
}

const TrayMenuNode* findNode(const TrayMenuNode& node, int32_t id) {
  if (node.id == id) return &node;
  for (const auto& child : node.children)
    if (const auto* found = findNode(child, id)) return found;
  return nullptr;
}

// The properties of one entry that differ from dbusmenu's defaults, limited
// to `names` when it is not empty.
GVariant* propertiesOf(const TrayMenuNode& node, const std::set<std::string>& names) {
  auto wanted = [&](const char* name) { return names.empty() || names.count(name); };
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  if (node.id != 0 && wanted("label"))
    g_variant_builder_add(&props, "{sv}", "label",
                          g_variant_new_string(menuLabel(node.label).c_str()));
  if (!node.enabled && wanted("enabled"))
    g_variant_builder_add(&props, "{sv}", "enabled", g_variant_new_boolean(FALSE));
  if (!node.children.empty() && wanted("children-display"))
    g_variant_builder_add(&props, "{sv}", "children-display", g_variant_new_string("submenu"));
  return g_variant_builder_end(&props);
}

GVariant* layoutOf(const TrayMenuNode& node, int32_t depth, const std::set<std::string>& names) {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  if (depth != 0)
    for (const auto& child : node.children)
      g_variant_builder_add(&children, "v", layoutOf(child, depth < 0 ? -1 : depth - 1, names));
  return g_variant_new("(i@a{sv}av)", node.id, propertiesOf(node, names), &children);
}

std::set<std::string> stringSet(GVariant* strings) {
  std::set<std::string> out;
  GVariantIter iter;
  const gchar* s = nullptr;
  g_variant_iter_init(&iter, strings);
  while (g_variant_iter_next(&iter, "&s", &s)) out.insert(s);
  return out;
}

// Whether two menus have the same entries under the same ids, so that
// hosts need the changed properties only.
bool sameShape(const TrayMenuNode& a, const TrayMenuNode& b) {
  if (a.id != b.id || a.children.size() != b.children.size()) return false;
  for (size_t i = 0; i < a.children.size(); ++i)
    if (!sameShape(a.children[i], b.children[i])) return false;
  return true;
}

void changedEntries(const TrayMenuNode& before, const TrayMenuNode& after,
                    std::vector<const TrayMenuNode*>& out) {
  if (before.label != after.label || before.enabled != after.enabled) out.push_back(&after);
  for (size_t i = 0; i < after.children.size(); ++i)
    changedEntries(before.children[i], after.children[i], out);
}

GVariant* pixmaps(const std::vector<TrayPixmap>& icon) {
  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("a(iiay)"));
  for (const auto& p : icon)
    g_variant_builder_add(
        &list, "(ii@ay)", p.size, p.size,
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, p.argb.data(), p.argb.size(), 1));
  return g_variant_builder_end(&list);
}

}  // namespace

struct TrayItem::State {
  GMainContext* context = nullptr;
  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* interfaces = nullptr;
  guint itemObject = 0, menuObject = 0, watcherWatch = 0;
  std::thread thread;
  std::atomic<bool> quit{false}, closed{false};
  int wakeFd = -1;

  // Shared with the bus thread.
  mutable std::mutex mutex;
  TrayContent content;
  TrayMenuNode root;  // id 0 over content.menu
  uint32_t revision = 1;
  std::optional<bool> watcher;
  std::vector<int32_t> clicks;

  ~State() {
    if (thread.joinable()) {
      quit = true;
      g_main_context_wakeup(context);
      thread.join();
    }
    if (context) g_main_context_push_thread_default(context);
    if (bus) {
      if (itemObject) g_dbus_connection_unregister_object(bus, itemObject);
      if (menuObject) g_dbus_connection_unregister_object(bus, menuObject);
      if (watcherWatch) g_bus_unwatch_name(watcherWatch);
      g_signal_handlers_disconnect_by_data(bus, this);
      if (!closed) g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    if (interfaces) g_dbus_node_info_unref(interfaces);
    if (context) {
      // Let the unregistrations finish their callbacks' cleanup.
      while (g_main_context_iteration(context, FALSE)) {
      }
      g_main_context_pop_thread_default(context);
      g_main_context_unref(context);
    }
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void wake() const {
    uint64_t one = 1;
    // A full counter already wakes the reader; nothing else can fail here.
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
  }

  void setMenu(const std::vector<TrayMenuNode>& menu) { root = TrayMenuNode{0, "", true, menu}; }

  void emit(const char* path, const char* interface, const char* signal, GVariant* args) {
    g_dbus_connection_emit_signal(bus, nullptr, path, interface, signal, args, nullptr);
  }

  void registerWithWatcher() {
    const gchar* self = g_dbus_connection_get_unique_name(bus);
    // The reply says nothing we act on: a watcher that refuses simply shows
    // no icon, and the notifications carry on either way.
    g_dbus_connection_call(bus, kWatcherName, kWatcherPath, kWatcherName,
                           "RegisterStatusNotifierItem", g_variant_new("(s)", self), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, nullptr,
                           nullptr);
  }

  static void onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer data) {
    auto* self = static_cast<State*>(data);
    // A new watcher (a host restarted) knows no items: register every time.
    self->registerWithWatcher();
    {
      std::lock_guard lock(self->mutex);
      self->watcher = true;
    }
    self->wake();
  }
  static void onWatcherVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<State*>(data);
    {
      std::lock_guard lock(self->mutex);
      self->watcher = false;
    }
    self->wake();
  }
  static void onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    auto* self = static_cast<State*>(data);
    self->closed = true;
    self->wake();
  }

  GVariant* itemProperty(const std::string& name) {
    std::lock_guard lock(mutex);
    const auto& c = content;
    if (name == "Category") return g_variant_new_string("SystemServices");
    if (name == "Id") return g_variant_new_string(c.id.c_str());
    if (name == "Title") return g_variant_new_string(c.title.c_str());
    if (name == "Status") return g_variant_new_string(c.status.c_str());
    if (name == "WindowId") return g_variant_new_int32(0);
    if (name == "IconPixmap") return pixmaps(c.icon);
    if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") return pixmaps({});
    if (name == "ToolTip")
      return g_variant_new("(s@a(iiay)ss)", "", pixmaps(c.icon), c.toolTipTitle.c_str(),
                           c.toolTipText.c_str());
    if (name == "ItemIsMenu") return g_variant_new_boolean(TRUE);
    if (name == "Menu") return g_variant_new_object_path(kMenuPath);
    return g_variant_new_string("");  // the icon names: the item draws its own pixels
  }

  static GVariant* menuProperty(const std::string& name) {
    if (name == "Version") return g_variant_new_uint32(3);
    if (name == "TextDirection") return g_variant_new_string("ltr");
    if (name == "Status") return g_variant_new_string("normal");
    return g_variant_new_strv(nullptr, 0);  // IconThemePath: no themed icons
  }

  static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*,
                                 const gchar* interface, const gchar* name, GError**,
                                 gpointer data) {
    auto* self = static_cast<State*>(data);
    if (g_strcmp0(interface, kItemInterface) == 0) return self->itemProperty(name);
    return menuProperty(name);
  }

  // Hands over one click on an entry of the current menu; false for an id
  // it does not hold.
  bool click(int32_t id, const std::string& event) {
    std::lock_guard lock(mutex);
    const auto* node = findNode(root, id);
    if (!node) return false;
    // Hovering, opening and closing tell us nothing; a submenu's own entry
    // and a label do nothing when clicked.
    if (event == "clicked" && node->enabled && node->children.empty() && id != 0) {
      clicks.push_back(id);
      wake();
    }
    return true;
  }

  void menuCall(const std::string& method, GVariant* args, GDBusMethodInvocation* call) {
    auto invalid = [&](int32_t id) {
      g_dbus_method_invocation_return_error(call, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "no menu entry %d", id);
    };
    if (method == "GetLayout") {
      gint32 parent = 0, depth = -1;
      GVariant* names = nullptr;
      g_variant_get(args, "(ii@as)", &parent, &depth, &names);
      auto wanted = stringSet(names);
      g_variant_unref(names);
      std::lock_guard lock(mutex);
      const auto* node = findNode(root, parent);
      if (!node) return invalid(parent);
      g_dbus_method_invocation_return_value(
          call, g_variant_new("(u@(ia{sv}av))", revision, layoutOf(*node, depth, wanted)));
    } else if (method == "GetGroupProperties") {
      GVariant *ids = nullptr, *names = nullptr;
      g_variant_get(args, "(@ai@as)", &ids, &names);
      auto wanted = stringSet(names);
      GVariantBuilder out;
      g_variant_builder_init(&out, G_VARIANT_TYPE("a(ia{sv})"));
      gsize count = 0;
      const auto* list =
          static_cast<const gint32*>(g_variant_get_fixed_array(ids, &count, sizeof(gint32)));
      {
        std::lock_guard lock(mutex);
        for (gsize i = 0; i < count; ++i)
          if (const auto* node = findNode(root, list[i]))
            g_variant_builder_add(&out, "(i@a{sv})", node->id, propertiesOf(*node, wanted));
      }
      g_variant_unref(ids);
      g_variant_unref(names);
      g_dbus_method_invocation_return_value(
          call, g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&out)));
    } else if (method == "GetProperty") {
      gint32 id = 0;
      const gchar* name = nullptr;
      g_variant_get(args, "(i&s)", &id, &name);
      std::lock_guard lock(mutex);
      const auto* node = findNode(root, id);
      if (!node) return invalid(id);
      GVariant* props = propertiesOf(*node, {name});
      GVariant* value = g_variant_lookup_value(props, name, nullptr);
      g_variant_unref(g_variant_ref_sink(props));
      if (!value)
        return g_dbus_method_invocation_return_error(call, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                                     "entry %d has no property %s", id, name);
      g_dbus_method_invocation_return_value(call, g_variant_new("(v)", value));
      g_variant_unref(value);
    } else if (method == "Event") {
      gint32 id = 0;
      const gchar* event = nullptr;
      g_variant_get(args, "(i&svu)", &id, &event, nullptr, nullptr);
      if (!click(id, event)) return invalid(id);
      g_dbus_method_invocation_return_value(call, nullptr);
    } else if (method == "EventGroup") {
      GVariantIter* events = nullptr;
      g_variant_get(args, "(a(isvu))", &events);
      GVariantBuilder errors;
      g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
      gint32 id = 0;
      const gchar* event = nullptr;
      while (g_variant_iter_next(events, "(i&svu)", &id, &event, nullptr, nullptr))
        if (!click(id, event)) g_variant_builder_add(&errors, "i", id);
      g_variant_iter_free(events);
      g_dbus_method_invocation_return_value(call, g_variant_new("(ai)", &errors));
    } else if (method == "AboutToShow") {
      // The menu is always current: the caller replaces it as things change.
      g_dbus_method_invocation_return_value(call, g_variant_new("(b)", FALSE));
    } else if (method == "AboutToShowGroup") {
      GVariant* ids = nullptr;
      g_variant_get(args, "(@ai)", &ids);
      GVariantBuilder none, errors;
      g_variant_builder_init(&none, G_VARIANT_TYPE("ai"));
      g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
      gsize count = 0;
      const auto* list =
          static_cast<const gint32*>(g_variant_get_fixed_array(ids, &count, sizeof(gint32)));
      {
        std::lock_guard lock(mutex);
        for (gsize i = 0; i < count; ++i)
          if (!findNode(root, list[i])) g_variant_builder_add(&errors, "i", list[i]);
      }
      g_variant_unref(ids);
      g_dbus_method_invocation_return_value(call, g_variant_new("(aiai)", &none, &errors));
    } else {
      g_dbus_method_invocation_return_error(call, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                            "no method %s", method.c_str());
    }
  }

  static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                           const gchar* method, GVariant* args, GDBusMethodInvocation* call,
                           gpointer data) {
    auto* self = static_cast<State*>(data);
    if (g_strcmp0(interface, kMenuInterface) == 0) return self->menuCall(method, args, call);
    // Activate and the others: with ItemIsMenu the hosts open the menu, which
    // is where everything this item does lives.
    g_dbus_method_invocation_return_value(call, nullptr);
  }
};

TrayItem::TrayItem(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrayItem::~TrayItem() = default;

std::unique_ptr<TrayItem> TrayItem::start(const TrayContent& content, std::string& error) {
  auto state = std::make_unique<State>();
  state->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (state->wakeFd < 0) {
    error = std::string("cannot make an eventfd: ") + g_strerror(errno);
    return nullptr;
  }
  state->content = content;
  state->setMenu(content.menu);
  state->context = g_main_context_new();
  // Everything made while the context is the thread's default delivers its
  // callbacks to it, and so to the bus thread.
  g_main_context_push_thread_default(state->context);
  struct Pop {
    GMainContext* c;
    ~Pop() { g_main_context_pop_thread_default(c); }
  } pop{state->context};
  state->bus = openSessionBus(error);
  if (!state->bus) return nullptr;
  g_signal_connect(state->bus, "closed", G_CALLBACK(&State::onClosed), state.get());
  GError* gerror = nullptr;
  state->interfaces = g_dbus_node_info_new_for_xml(kInterfaces, &gerror);
  if (!state->interfaces) {
    error = std::string("bad interface description: ") + gerror->message;
    g_error_free(gerror);
    return nullptr;
  }
  static const GDBusInterfaceVTable vtable{
      &State::onMethodCall, &State::onGetProperty, nullptr, {}};
  struct Object {
    const char* path;
    const char* interface;
    guint* id;
  };
  for (auto o : {Object{kItemPath, kItemInterface, &state->itemObject},
                 Object{kMenuPath, kMenuInterface, &state->menuObject}}) {
    *o.id = g_dbus_connection_register_object(
        state->bus, o.path, g_dbus_node_info_lookup_interface(state->interfaces, o.interface),
        &vtable, state.get(), nullptr, &gerror);
    if (!*o.id) {
      error = std::string("cannot serve ") + o.path + ": " + gerror->message;
      g_error_free(gerror);
      return nullptr;
    }
  }
  state->watcherWatch = g_bus_watch_name_on_connection(
      state->bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, &State::onWatcherAppeared,
      &State::onWatcherVanished, state.get(), nullptr);
  auto* s = state.get();
  state->thread = std::thread([s] {
    g_main_context_push_thread_default(s->context);
    while (!s->quit) g_main_context_iteration(s->context, TRUE);
    g_main_context_pop_thread_default(s->context);
  });
  return std::unique_ptr<TrayItem>(new TrayItem(std::move(state)));
}

bool TrayItem::connected() const { return !state_->closed; }

std::optional<bool> TrayItem::watcherPresent() const {
  std::lock_guard lock(state_->mutex);
  return state_->watcher;
}

int TrayItem::fd() const { return state_->wakeFd; }

std::vector<int32_t> TrayItem::takeClicks() {
  uint64_t count = 0;
  // Empty (EAGAIN) is as good as drained.
  [[maybe_unused]] auto n = ::read(state_->wakeFd, &count, sizeof count);
  std::lock_guard lock(state_->mutex);
  return std::exchange(state_->clicks, {});
}

void TrayItem::update(const TrayContent& content) {
  auto& s = *state_;
  std::unique_lock lock(s.mutex);
  TrayContent before = std::exchange(s.content, content);
  TrayMenuNode oldRoot = s.root;
  s.setMenu(content.menu);
  bool reshaped = !sameShape(oldRoot, s.root);
  if (reshaped) ++s.revision;
  std::vector<const TrayMenuNode*> changed;
  if (!reshaped) changedEntries(oldRoot, s.root, changed);
  GVariant* layout = nullptr;
  if (reshaped) {
    layout = g_variant_new("(ui)", s.revision, 0);
  } else if (!changed.empty()) {
    GVariantBuilder updated;
    g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
    for (const auto* node : changed)
      g_variant_builder_add(&updated, "(i@a{sv})", node->id,
                            propertiesOf(*node, {"label", "enabled"}));
    // An entry enabled again goes back to the default, which a host only
    // learns from its removal.
    GVariantBuilder removed;
    g_variant_builder_init(&removed, G_VARIANT_TYPE("a(ias)"));
    for (const auto* node : changed)
      if (node->enabled) {
        const gchar* enabled[] = {"enabled", nullptr};
        g_variant_builder_add(&removed, "(i^as)", node->id, enabled);
      }
    layout = g_variant_new("(a(ia{sv})a(ias))", &updated, &removed);
  }
  lock.unlock();
  // Signals carry no state the bus thread reads, so they go out unlocked.
  if (before.title != content.title) s.emit(kItemPath, kItemInterface, "NewTitle", nullptr);
  if (before.icon != content.icon) s.emit(kItemPath, kItemInterface, "NewIcon", nullptr);
  if (before.toolTipTitle != content.toolTipTitle || before.toolTipText != content.toolTipText ||
      before.icon != content.icon)
    s.emit(kItemPath, kItemInterface, "NewToolTip", nullptr);
  if (before.status != content.status)
    s.emit(kItemPath, kItemInterface, "NewStatus", g_variant_new("(s)", content.status.c_str()));
  if (layout)
    s.emit(kMenuPath, kMenuInterface, reshaped ? "LayoutUpdated" : "ItemsPropertiesUpdated",
           layout);
}

}  // namespace norvo::platform
