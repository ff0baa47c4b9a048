// A stand-in service on the test's private bus, served by this process
// through GDBus on a thread of its own, recording every call: a
// StatusNotifierWatcher, or a notification server.
// It takes its name once its object is served and gives it up when
// destroyed, as a real service that quits does.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvo::test {

class BusService {
 public:
  // The reply to one method (a tuple; null for none), given its arguments;
  // methods without one reply with nothing.
  using Reply = std::function<GVariant*(GVariant* args)>;
  struct Call {
    std::string sender, method;
    std::string args;  // as GVariant text, e.g. "(':1.4',)"
  };

  BusService(const std::string& address, const std::string& name, const std::string& path,
             const std::string& introspection, std::map<std::string, Reply> replies = {})
      : replies_(std::move(replies)) {
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
  // The calls of `method` so far, in order.
  std::vector<Call> calls(const std::string& method) const {
    std::lock_guard lock(mutex_);
    std::vector<Call> out;
    for (const auto& c : calls_)
      if (c.method == method) out.push_back(c);
    return out;
  }

 private:
  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                     const gchar* method, GVariant* args, GDBusMethodInvocation* call,
                     gpointer data) {
    auto* self = static_cast<BusService*>(data);
    gchar* text = g_variant_print(args, FALSE);
    {
      std::lock_guard lock(self->mutex_);
      self->calls_.push_back({sender, method, text});
    }
    g_free(text);
    auto reply = self->replies_.find(method);
    g_dbus_method_invocation_return_value(
        call, reply == self->replies_.end() ? nullptr : reply->second(args));
  }

  std::map<std::string, Reply> replies_;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  GMainContext* context_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  GDBusNodeInfo* info_ = nullptr;
  guint object_ = 0;
  bool up_ = false;
  std::string why_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

// The watcher a tray host runs: it takes RegisterStatusNotifierItem.
inline std::unique_ptr<BusService> startWatcher(const std::string& address) {
  return std::make_unique<BusService>(address, "org.kde.StatusNotifierWatcher",
                                      "/StatusNotifierWatcher",
                                      R"(<node><interface name="org.kde.StatusNotifierWatcher">
           <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
           <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
         </interface></node>)");
}

// A notification server with buttons that shows nothing; its Notify calls
// are what it was sent.
inline std::unique_ptr<BusService> startNotificationServer(const std::string& address) {
  std::map<std::string, BusService::Reply> replies{
      {"GetCapabilities",
       [](GVariant*) {
         const gchar* caps[] = {"actions", "body", nullptr};
         return g_variant_new("(^as)", caps);
       }},
      {"Notify", [](GVariant*) { return g_variant_new("(u)", 1u); }}};
  return std::make_unique<BusService>(address, "org.freedesktop.Notifications",
                                      "/org/freedesktop/Notifications",
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
                                      std::move(replies));
}

}  // namespace norvo::test
