// Local stream sockets for a root helper and its clients: one request line
// and one reply line per connection. Both sides learn who is at the other
// end from the kernel (SO_PEERCRED), which a client cannot forge, and every
// wait has a deadline so a stuck peer costs a bounded time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace norvo::platform::unix_socket {

// An owned descriptor, closed when it goes away.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

struct Peer {
  uid_t uid = 0;
  gid_t gid = 0;
  pid_t pid = 0;
};

// A listening socket that removes its file when it goes away.
class Listener {
 public:
  Listener(Socket socket, std::filesystem::path path)
      : socket_(std::move(socket)), path_(std::move(path)) {}
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  const Socket& socket() const { return socket_; }

 private:
  Socket socket_;
  std::filesystem::path path_;
};

// A listening socket at `path` with permissions `mode`, replacing a socket
// file left by an earlier run (never any other kind of file). Throws
// std::system_error when it cannot be made.
Listener listen(const std::filesystem::path& path, mode_t mode);

// The next waiting connection and its peer; absent when none is waiting
// within `timeout` or the peer cannot be named.
std::optional<std::pair<Socket, Peer>> accept(const Listener& listening,
                                              std::chrono::milliseconds timeout);

// Connects to `path` and names the process that listens there; absent with
// `error` set (errno's text) when nothing listens or the path is not a socket.
// `errorNumber` keeps errno for callers that tell "not running" apart.
std::optional<std::pair<Socket, Peer>> connect(const std::filesystem::path& path,
                                               std::string& error, int& errorNumber);

// One line without its '\n'; absent when the peer closes first, the line
// grows past `maxBytes` or `timeout` passes.
std::optional<std::string> readLine(const Socket& socket, std::chrono::milliseconds timeout,
                                    size_t maxBytes);

// The whole text within `timeout`; false otherwise.
bool writeAll(const Socket& socket, std::string_view text, std::chrono::milliseconds timeout);

// Owner, permission bits and kind of the file at `path` itself (a link is
// not followed); absent when there is nothing there.
struct SocketFile {
  uid_t owner = 0;
  mode_t mode = 0;
  bool isSocket = false;
};
std::optional<SocketFile> socketFile(const std::filesystem::path& path);

// Whether user `uid` belongs to group `gid` by the group database.
bool inGroup(uid_t uid, gid_t gid);

// A user or group given as a name or a number; absent when unknown.
std::optional<uid_t> userId(const std::string& nameOrNumber);
std::optional<gid_t> groupId(const std::string& nameOrNumber);

}  // namespace norvo::platform::unix_socket
