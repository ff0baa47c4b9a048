// A plain HTTP/1.1 client for tests of servers on this machine: one request,
// "Connection: close", read to the end with a timeout, so a server that
// hangs fails the test instead of holding the suite.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

namespace norvo::test {

struct LocalReply {
  int status = 0;  // 0: no answer
  std::string head, body;
};

inline LocalReply localRequest(uint16_t port, const std::string& method, const std::string& target,
                               const std::string& accept = "") {
  LocalReply reply;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return reply;
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                        (accept.empty() ? "" : "Accept: " + accept + "\r\n") +
                        "Connection: close\r\n\r\n";
  std::string raw;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buffer[16384];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, size_t(n));
  }
  ::close(fd);
  auto split = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return reply;
  reply.status = std::stoi(raw.substr(9, 3));
  reply.head = raw.substr(0, split);
  reply.body = raw.substr(split + 4);
  return reply;
}

// A port nobody listens on at the moment of asking.
inline uint16_t freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
  ::close(fd);
  return ntohs(at.sin_port);
}

// The first executable `program` on PATH, for tests that drive outside tools.
inline std::optional<std::string> onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
      return dir + "/" + program;
  return std::nullopt;
}

}  // namespace norvo::test
