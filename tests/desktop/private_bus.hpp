// A session bus of the test's own: dbus-daemon with a configuration that
// listens in the test's folder, allows everything and names no service
// folders, so nothing is started on demand (the stock session configuration
// would start the dunst package's default server on the first call) and the
// developer's own bus is never touched. Any user may connect, for a test
// that runs a desktop as an unprivileged one; the socket's folder decides
// who reaches it.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "cli/child_process.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::test {

// The first of `programs` that is not there to run, or empty.
inline std::string missingProgram(std::initializer_list<const char*> programs) {
  for (const char* program : programs)
    if (::access(program, X_OK) != 0) return program;
  return "";
}

// Whether some connection owns `name` on the session bus, asked with gdbus.
inline bool nameHasOwner(const std::string& name) {
  return run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
              "--object-path", "/org/freedesktop/DBus", "--method",
              "org.freedesktop.DBus.NameHasOwner", name},
             "", std::chrono::seconds(5))
             .out.find("true") != std::string::npos;
}

// A pending suggestion to quit "Browser", which no process belongs to, so
// that no answer can signal anything.
inline QuitSuggestion fileQuitSuggestion(const std::filesystem::path& store) {
  QuitSuggestion::Item app;
  app.name = "Browser";
  app.bundlePath = "/nonexistent/browser";
  auto filed = QuitSuggestion::make("claude pid 42", "builds are slow", {app});
  NorvoStore::addSuggestion(filed, store);
  return filed;
}

// Whether the suggestion `id` filed by fileQuitSuggestion is settled within
// `timeout` by keeping "Browser": the answer the tests' servers pick.
inline bool keptBrowser(const std::string& id, const std::filesystem::path& store,
                        std::chrono::milliseconds timeout) {
  std::optional<QuitSuggestion> s;
  waitFor([&] { return (s = NorvoStore::suggestion(id, store)) && s->status != "pending"; },
          timeout);
  return s && s->status == "declined" && s->kept == std::vector<std::string>{"Browser"};
}

class PrivateBus {
 public:
  explicit PrivateBus(const TempDir& dir) {
    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) return;
    auto config = dir.write("bus.conf", R"(<busconfig>
  <type>session</type>
  <listen>unix:path=)" + (dir.path() / "bus").string() +
                                            R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
    auto ran = run({"/usr/bin/dbus-daemon", "--config-file=" + config.string(), "--fork",
                    "--print-address=1", "--print-pid=1"},
                   "", std::chrono::seconds(10));
    std::istringstream lines(ran.out);
    std::string address, pid;
    if (ran.status != 0 || !std::getline(lines, address) || !std::getline(lines, pid)) {
      why_ = "dbus-daemon did not start: " + ran.errors;
      return;
    }
    address_ = address;
    pid_ = std::stoi(pid);
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) old_ = old;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    if (old_)
      ::setenv("DBUS_SESSION_BUS_ADDRESS", old_->c_str(), 1);
    else if (pid_ > 0)
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool up() const { return pid_ > 0; }
  // Why it is not up: the line a skipped test prints.
  std::string why() const { return why_.empty() ? "dbus-daemon is not installed" : why_; }
  const std::string& address() const { return address_; }

 private:
  std::string address_, why_;
  int pid_ = -1;
  std::optional<std::string> old_;
};

}  // namespace norvo::test
