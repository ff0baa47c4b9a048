#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "core/platform/linux/text_file.hpp"
#include "core/platform/unix_socket.hpp"

namespace norvo::platform::unix_socket {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<sockaddr_un> address(const std::filesystem::path& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof addr.sun_path) return std::nullopt;
  std::memcpy(addr.sun_path, text.c_str(), text.size() + 1);
  return addr;
}

std::optional<Peer> peerOf(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return std::nullopt;
  return Peer{cred.uid, cred.gid, cred.pid};
}

// Waits for `events` on `fd` until `deadline`; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60'000)));
    if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
    if (r == 0 && Clock::now() >= deadline) return false;
    if (r < 0 && errno != EINTR) return false;
  }
}

}  // namespace

Socket::~Socket() {
  if (fd_ >= 0) ::close(fd_);
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Listener::~Listener() {
  struct stat st {};
  // Only the socket this listener made; an owner's file put there since stays.
  if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path_.c_str());
}

Listener listen(const std::filesystem::path& path, mode_t mode) {
  // Made under a name of its own and renamed into place once it listens with
  // its mode, so a client never finds a socket that is not ready yet.
  auto building = path;
  building += ".new-" + std::to_string(::getpid());
  auto addr = address(building);
  if (!addr) throw std::system_error(ENAMETOOLONG, std::generic_category(), path.string());
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode))
    throw std::system_error(EEXIST, std::generic_category(), path.string() + " is not a socket");
  ::unlink(building.c_str());
  Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s) throw std::system_error(errno, std::generic_category(), "socket");
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0)
    throw std::system_error(errno, std::generic_category(), "bind " + building.string());
  // rename() replaces a socket an earlier run left behind in one step.
  if (::chmod(building.c_str(), mode) != 0 || ::listen(s.fd(), 16) != 0 ||
      ::rename(building.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(building.c_str());
    throw std::system_error(err, std::generic_category(), "listen " + path.string());
  }
  return Listener(std::move(s), path);
}

std::optional<std::pair<Socket, Peer>> accept(const Listener& listening,
                                              std::chrono::milliseconds timeout) {
  int fd = listening.socket().fd();
  if (!waitFor(fd, POLLIN, Clock::now() + timeout)) return std::nullopt;
  Socket s(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
  if (!s) return std::nullopt;
  auto peer = peerOf(s.fd());
  if (!peer) return std::nullopt;
  return std::make_pair(std::move(s), *peer);
}

std::optional<std::pair<Socket, Peer>> connect(const std::filesystem::path& path,
                                               std::string& error, int& errorNumber) {
  auto fail = [&](int err) {
    errorNumber = err;
    error = std::strerror(err);
    return std::nullopt;
  };
  auto addr = address(path);
  if (!addr) return fail(ENAMETOOLONG);
  Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s) return fail(errno);
  // A listener whose queue is full makes connect() wait; this bounds it.
  timeval limit{5, 0};
  ::setsockopt(s.fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int r;
  do {
    r = ::connect(s.fd(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr);
  } while (r != 0 && errno == EINTR);
  if (r != 0) return fail(errno);
  auto peer = peerOf(s.fd());
  if (!peer) return fail(errno);
  return std::make_pair(std::move(s), *peer);
}

std::optional<std::string> readLine(const Socket& socket, std::chrono::milliseconds timeout,
                                    size_t maxBytes) {
  auto deadline = Clock::now() + timeout;
  std::string line;
  char buf[4096];
  for (;;) {
    if (!waitFor(socket.fd(), POLLIN, deadline)) return std::nullopt;
    ssize_t n = ::recv(socket.fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return std::nullopt;
    line.append(buf, static_cast<size_t>(n));
    if (auto end = line.find('\n'); end != std::string::npos) {
      line.resize(end);
      return line.size() <= maxBytes ? std::optional(line) : std::nullopt;
    }
    if (line.size() > maxBytes) return std::nullopt;
  }
}

bool writeAll(const Socket& socket, std::string_view text, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!text.empty()) {
    if (!waitFor(socket.fd(), POLLOUT, deadline)) return false;
    ssize_t n = ::send(socket.fd(), text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::optional<SocketFile> socketFile(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return SocketFile{st.st_uid, static_cast<mode_t>(st.st_mode & 07777), S_ISSOCK(st.st_mode)};
}

bool inGroup(uid_t uid, gid_t gid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return false;
  if (pw.pw_gid == gid) return true;
  int count = 256;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

std::optional<uid_t> userId(const std::string& nameOrNumber) {
  if (auto n = text_file::parseUnsigned(nameOrNumber); n && *n < 0xFFFFFFFFu)
    return static_cast<uid_t>(*n);
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwnam_r(nameOrNumber.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found)
    return std::nullopt;
  return pw.pw_uid;
}

std::optional<gid_t> groupId(const std::string& nameOrNumber) {
  if (auto n = text_file::parseUnsigned(nameOrNumber); n && *n < 0xFFFFFFFFu)
    return static_cast<gid_t>(*n);
  std::vector<char> buf(16384);
  group gr{};
  group* found = nullptr;
  if (::getgrnam_r(nameOrNumber.c_str(), &gr, buf.data(), buf.size(), &found) != 0 || !found)
    return std::nullopt;
  return gr.gr_gid;
}

}  // namespace norvo::platform::unix_socket
