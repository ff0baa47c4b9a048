// GDBus speaks the protocol; everything runs on a main context of this
// client's own, iterated only inside wait() and the synchronous calls, so no
// thread of GLib's runs our callbacks behind the caller's back.
#include <gio/gio.h>
#include <glib-unix.h>

#include <set>

#include "core/platform/linux/session_bus.hpp"
#include "core/platform/notification_client.hpp"

namespace norvo::platform {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr int kCallTimeoutMs = 5000;

std::string messageOf(GError* error) {
  std::string text = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

}  // namespace

struct NotificationClient::State {
  GMainContext* context = nullptr;
  GDBusConnection* bus = nullptr;
  guint nameWatch = 0;
  guint actionSubscription = 0;
  std::string owner;  // unique name of the current server; empty when none
  uint64_t generation = 0;
  bool nameResolved = false;  // the watch has said whether a server is there
  bool changed = false;       // the server came or went since the last wait
  bool closed = false;
  std::optional<bool> hasActions, hasMarkup;  // of the current server
  std::set<uint32_t> sent;
  std::vector<ActionInvoked> invoked;

  ~State() {
    if (actionSubscription) g_dbus_connection_signal_unsubscribe(bus, actionSubscription);
    if (nameWatch) g_bus_unwatch_name(nameWatch);
    if (bus) {
      g_signal_handlers_disconnect_by_data(bus, this);
      if (!closed) g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    // Let the unwatch and unsubscribe finish their callbacks' cleanup.
    if (context) {
      while (g_main_context_iteration(context, FALSE)) {
      }
      g_main_context_unref(context);
    }
  }

  static void onAction(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                       const gchar*, GVariant* parameters, gpointer data) {
    auto* self = static_cast<State*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
    guint32 id = 0;
    const gchar* key = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &key);
    // The match rule names the owner already; checked again, since a rule
    // added before an owner change may still deliver the old one's signals.
    if (self->owner.empty() || !sender || self->owner != sender) return;
    if (!self->sent.count(id)) return;
    self->invoked.push_back({id, key});
  }

  // The subscription follows the owner: only its signals reach us.
  void follow(const std::string& newOwner) {
    if (actionSubscription) g_dbus_connection_signal_unsubscribe(bus, actionSubscription);
    actionSubscription = 0;
    owner = newOwner;
    hasActions.reset();
    hasMarkup.reset();
    sent.clear();  // a new server knows nothing of the old one's ids
    changed = true;
    if (owner.empty()) return;
    ++generation;
    actionSubscription = g_dbus_connection_signal_subscribe(
        bus, owner.c_str(), kName, "ActionInvoked", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &State::onAction, this, nullptr);
  }

  static void onAppeared(GDBusConnection*, const gchar*, const gchar* nameOwner, gpointer data) {
    auto* self = static_cast<State*>(data);
    self->nameResolved = true;
    if (self->owner != nameOwner) self->follow(nameOwner);
  }
  static void onVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<State*>(data);
    self->nameResolved = true;
    if (!self->owner.empty()) self->follow("");
  }
  static void onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<State*>(data)->closed = true;
  }

  void readCapabilities() {
    if (hasActions) return;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kName, kPath, kName, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &error);
    if (!reply) {
      g_clear_error(&error);
      return;
    }
    hasActions = false;
    hasMarkup = false;
    GVariantIter* caps = nullptr;
    const gchar* cap = nullptr;
    g_variant_get(reply, "(as)", &caps);
    while (g_variant_iter_next(caps, "&s", &cap)) {
      if (g_strcmp0(cap, "actions") == 0) hasActions = true;
      if (g_strcmp0(cap, "body-markup") == 0) hasMarkup = true;
    }
    g_variant_iter_free(caps);
    g_variant_unref(reply);
  }
};

NotificationClient::NotificationClient(std::unique_ptr<State> state) : state_(std::move(state)) {}
NotificationClient::~NotificationClient() = default;

std::unique_ptr<NotificationClient> NotificationClient::connect(std::string& error) {
  auto state = std::make_unique<State>();
  state->context = g_main_context_new();
  // The context is the thread's default while the connection is made, so
  // that its own callbacks (the "closed" signal) deliver to it.
  g_main_context_push_thread_default(state->context);
  state->bus = openSessionBus(error);
  if (!state->bus) {
    g_main_context_pop_thread_default(state->context);
    return nullptr;
  }
  g_signal_connect(state->bus, "closed", G_CALLBACK(&State::onClosed), state.get());
  state->nameWatch =
      g_bus_watch_name_on_connection(state->bus, kName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                     &State::onAppeared, &State::onVanished, state.get(), nullptr);
  // The watch reports the current owner after a round trip; wait for it so
  // that the first notification already knows whom to trust. The context
  // stays the thread's default while it runs our callbacks, so that the
  // subscriptions they make deliver to it.
  for (int i = 0; i < 200 && !state->nameResolved && !state->closed; ++i)
    if (!g_main_context_iteration(state->context, FALSE)) g_usleep(10'000);
  g_main_context_pop_thread_default(state->context);
  state->changed = false;
  return std::unique_ptr<NotificationClient>(new NotificationClient(std::move(state)));
}

bool NotificationClient::connected() const { return !state_->closed; }

uint64_t NotificationClient::serverGeneration() const { return state_->generation; }

bool NotificationClient::serverHasActions() {
  state_->readCapabilities();
  return state_->hasActions.value_or(false);
}

std::optional<uint32_t> NotificationClient::show(const NotificationContent& content,
                                                 std::string& error) {
  state_->readCapabilities();
  std::string body = content.body;
  if (state_->hasMarkup.value_or(false)) {
    gchar* escaped = g_markup_escape_text(body.c_str(), static_cast<gssize>(body.size()));
    body = escaped;
    g_free(escaped);
  }
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  for (const auto& [key, label] : content.actions) {
    g_variant_builder_add(&actions, "s", key.c_str());
    g_variant_builder_add(&actions, "s", label.c_str());
  }
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(content.urgent ? 2 : 1));
  if (content.persistent)
    g_variant_builder_add(&hints, "{sv}", "resident", g_variant_new_boolean(TRUE));
  GError* gerror = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      state_->bus, kName, kPath, kName, "Notify",
      g_variant_new("(susssasa{sv}i)", "Zemra Norvo", 0u, "", content.summary.c_str(), body.c_str(),
                    &actions, &hints, content.persistent ? 0 : -1),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &gerror);
  if (!reply) {
    error = "the notification server did not take it: " + messageOf(gerror);
    return std::nullopt;
  }
  guint32 id = 0;
  g_variant_get(reply, "(u)", &id);
  g_variant_unref(reply);
  state_->sent.insert(id);
  return id;
}

void NotificationClient::close(uint32_t id) {
  if (!state_->sent.erase(id)) return;
  GError* gerror = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      state_->bus, kName, kPath, kName, "CloseNotification", g_variant_new("(u)", id), nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &gerror);
  if (reply) g_variant_unref(reply);
  g_clear_error(&gerror);  // closed already, or no server: nothing left to withdraw
}

std::vector<ActionInvoked> NotificationClient::wait(std::chrono::milliseconds timeout,
                                                    const std::vector<int>& wakeFds) {
  bool woken = false;
  auto wake = +[](gpointer flag) -> gboolean {
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
  };
  std::vector<GSource*> sources;
  sources.push_back(
      g_timeout_source_new(static_cast<guint>(std::max<int64_t>(0, timeout.count()))));
  g_source_set_callback(sources.back(), wake, &woken, nullptr);
  for (int fd : wakeFds) {
    sources.push_back(g_unix_fd_source_new(fd, G_IO_IN));
    GUnixFDSourceFunc ready = [](gint, GIOCondition, gpointer flag) -> gboolean {
      *static_cast<bool*>(flag) = true;
      return G_SOURCE_REMOVE;
    };
    // GLib's documented way to set an fd source's callback: cast through a
    // function pointer of no arguments.
    g_source_set_callback(sources.back(),
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(ready)),
                          &woken, nullptr);
  }
  for (auto* s : sources) g_source_attach(s, state_->context);
  g_main_context_push_thread_default(state_->context);
  while (!woken && state_->invoked.empty() && !state_->changed && !state_->closed)
    g_main_context_iteration(state_->context, TRUE);
  g_main_context_pop_thread_default(state_->context);
  for (auto* s : sources) {
    g_source_destroy(s);
    g_source_unref(s);
  }
  state_->changed = false;
  return std::exchange(state_->invoked, {});
}

}  // namespace norvo::platform
