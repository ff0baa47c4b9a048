// Desktop notifications with buttons, through the freedesktop notification
// server on the session bus. Only what the server itself says counts: a
// pressed button is accepted from the bus name that owns
// org.freedesktop.Notifications at that moment (followed across restarts of
// the server) and only for a notification this client sent, because any
// other client of the bus can emit the same signal under its own name.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace norvo::platform {

struct NotificationContent {
  std::string summary;
  std::string body;  // plain text; escaped here for servers that read markup
  std::vector<std::pair<std::string, std::string>> actions;  // key, label
  bool urgent = false;      // critical urgency, and stays until dismissed
  bool persistent = false;  // stays until the owner acts on it
};

struct ActionInvoked {
  uint32_t id = 0;
  std::string key;
};

class NotificationClient {
 public:
  // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS, else the user
  // bus). Absent, with `error` saying why, when there is none.
  static std::unique_ptr<NotificationClient> connect(std::string& error);
  ~NotificationClient();
  NotificationClient(const NotificationClient&) = delete;
  NotificationClient& operator=(const NotificationClient&) = delete;

  // False once the bus closed the connection; connect again.
  bool connected() const;

  // Counts the times a server took the name, so a caller can show again
  // what a restarted server has forgotten. 0 while none has.
  uint64_t serverGeneration() const;

  // Whether the current server lists the "actions" capability; false when
  // none answers.
  bool serverHasActions();

  // Sends one notification; its id, or absent with `error` (no server, a
  // refused call, no answer within 5 s).
  std::optional<uint32_t> show(const NotificationContent& content, std::string& error);

  // Withdraws a notification this client sent; never fails loudly (it may be
  // gone already).
  void close(uint32_t id);

  // Waits at most `timeout`, or until one of `wakeFds` polls readable, the
  // server changes or the bus goes away, for buttons pressed on this
  // client's notifications; returns them in the order they came.
  std::vector<ActionInvoked> wait(std::chrono::milliseconds timeout,
                                  const std::vector<int>& wakeFds);

  struct State;

 private:
  explicit NotificationClient(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace norvo::platform
