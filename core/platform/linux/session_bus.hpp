// A connection of our own to the session bus rather than GLib's shared one:
// it can be dropped and made again when the bus goes away, and never exits
// the process when it does.
#pragma once

#include <gio/gio.h>

#include <string>

namespace norvo::platform {

// Connects to DBUS_SESSION_BUS_ADDRESS, else the user bus; null with `error`
// saying why. The caller owns the reference.
GDBusConnection* openSessionBus(std::string& error);

}  // namespace norvo::platform
