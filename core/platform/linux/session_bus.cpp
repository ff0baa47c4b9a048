#include "core/platform/linux/session_bus.hpp"

namespace norvo::platform {

GDBusConnection* openSessionBus(std::string& error) {
  GError* gerror = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &gerror);
  if (!address) {
    error = std::string("no session bus: ") + gerror->message;
    g_error_free(gerror);
    return nullptr;
  }
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &gerror);
  g_free(address);
  if (!bus) {
    error = std::string("cannot connect to the session bus: ") + gerror->message;
    g_error_free(gerror);
  }
  return bus;
}

}  // namespace norvo::platform
