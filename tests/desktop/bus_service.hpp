// A stand-in service on the test's private bus, served by this process
// through GDBus on a thread of its own: a StatusNotifierWatcher that records
// who registered, or a notification server that records what it was sent.
// It takes its name once its object is served and gives it up when
// destroyed, as a real service that quits does.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvo::test {

class BusService {
 public:
  // What a method returns (a tuple, or null for none); called on the
  // service's thread with the caller's unique name.
  using Handler = std::function<GVariant*(const std::string& sender, const std::string& method,
                                          GVariant* args)>;

  BusService(const std::string& address, const std::string& name, const std::string& path,
             const std::string& introspection, Handler handler)
      : handler_(std::move(handler)) {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    GError* error = nullptr;
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    info_ = bus_ ? g_dbus_node_info_new_for_xml(introspection.c_str(), &error) : nullptr;
    static const GDBusInterfaceVTable vtable{&BusService::onCall, nullptr, nullptr, {}};
    if (info_)
      object_ = g_dbus_connection_register_object(bus_, path.c_str(), info_->interfaces[0], &vtable,
                                                  this, nullptr, &error);
    g_main_context_pop_thread_default(context_);
    if (object_) {
      GVariant* reply = g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", name.c_str(), 4u /* do not queue */),
          G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
      guint32 result = 0;
      if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
      }
      up_ = result == 1;  // the primary owner
    }
    if (error) {
      why_ = error->message;
      g_error_free(error);
    }
    thread_ = std::thread([this] {
      g_main_context_push_thread_default(context_);
      while (!quit_) g_main_context_iteration(context_, TRUE);
      g_main_context_pop_thread_default(context_);
    });
  }

  ~BusService() {
    quit_ = true;
    g_main_context_wakeup(context_);
    thread_.join();
    g_main_context_push_thread_default(context_);
    if (object_) g_dbus_connection_unregister_object(bus_, object_);
    if (bus_) {
      g_dbus_connection_close_sync(bus_, nullptr, nullptr);
      g_object_unref(bus_);
    }
    if (info_) g_dbus_node_info_unref(info_);
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  BusService(const BusService&) = delete;
  BusService& operator=(const BusService&) = delete;

  bool up() const { return up_; }
  const std::string& why() const { return why_; }

 private:
  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                     const gchar* method, GVariant* args, GDBusMethodInvocation* call,
                     gpointer data) {
    auto* self = static_cast<BusService*>(data);
    g_dbus_method_invocation_return_value(call, self->handler_(sender, method, args));
  }

  Handler handler_;
  GMainContext* context_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  GDBusNodeInfo* info_ = nullptr;
  guint object_ = 0;
  bool up_ = false;
  std::string why_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

// The watcher a tray host runs; it records each RegisterStatusNotifierItem.
class TestWatcher {
 public:
  explicit TestWatcher(const std::string& address)
      : service_(address, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                 R"(<node><interface name="org.kde.StatusNotifierWatcher">
                      <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
                      <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
                    </interface></node>)",
                 [this](const std::string& sender, const std::string& method, GVariant* args) {
                   if (method == "RegisterStatusNotifierItem") {
                     const gchar* service = nullptr;
                     g_variant_get(args, "(&s)", &service);
                     std::lock_guard lock(mutex_);
                     items_.push_back({sender, service});
                   }
                   return static_cast<GVariant*>(nullptr);
                 }) {}

  bool up() const { return service_.up(); }
  const std::string& why() const { return service_.why(); }
  // (sender, service) of each registration so far.
  std::vector<std::pair<std::string, std::string>> items() const {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> items_;
  BusService service_;  // last: its thread may call in as soon as it exists
};

// A notification server with buttons that shows nothing and records the
// summaries it was sent.
class TestNotificationServer {
 public:
  explicit TestNotificationServer(const std::string& address)
      : service_(address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                 R"(<node><interface name="org.freedesktop.Notifications">
                      <method name="GetCapabilities"><arg type="as" direction="out"/></method>
                      <method name="Notify">
                        <arg type="s" direction="in"/><arg type="u" direction="in"/>
                        <arg type="s" direction="in"/><arg type="s" direction="in"/>
                        <arg type="s" direction="in"/><arg type="as" direction="in"/>
                        <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
                        <arg type="u" direction="out"/>
                      </method>
                      <method name="CloseNotification"><arg type="u" direction="in"/></method>
                    </interface></node>)",
                 [this](const std::string&, const std::string& method, GVariant* args) {
                   if (method == "GetCapabilities") {
                     const gchar* caps[] = {"actions", "body", nullptr};
                     return g_variant_new("(^as)", caps);
                   }
                   if (method != "Notify") return static_cast<GVariant*>(nullptr);
                   const gchar* summary = nullptr;
                   g_variant_get_child(args, 3, "&s", &summary);
                   std::lock_guard lock(mutex_);
                   summaries_.push_back(summary);
                   return g_variant_new("(u)", static_cast<guint32>(summaries_.size()));
                 }) {}

  bool up() const { return service_.up(); }
  const std::string& why() const { return service_.why(); }
  std::vector<std::string> summaries() const {
    std::lock_guard lock(mutex_);
    return summaries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> summaries_;
  BusService service_;
};

}  // namespace norvo::test
