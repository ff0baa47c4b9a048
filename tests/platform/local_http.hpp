// What tests of servers on this machine need: a free port, and one plain
// HTTP/1.1 request read to its end with a timeout, so that a server that
// hangs fails the test instead of holding the suite.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace norvo::test {

struct LocalReply {
  int status = 0;  // 0: no answer
  std::string head, body;
};

inline LocalReply localRequest(uint16_t port, const std::string& method, const std::string& target,
                               const std::string& accept = "") {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  auto request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: " + accept +
                 "\r\nConnection: close\r\n\r\n";
  std::string raw;
  bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
              ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
  char buffer[16384];
  for (ssize_t n; sent && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
    raw.append(buffer, size_t(n));
  ::close(fd);
  auto split = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return {};
  return {std::stoi(raw.substr(9, 3)), raw.substr(0, split), raw.substr(split + 4)};
}

// A port nobody listens on at the moment of asking.
inline uint16_t freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof at;
  ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
  ::close(fd);
  return ntohs(at.sin_port);
}

}  // namespace norvo::test
