// A small HTTP server for scrapers on the local network: a listening socket
// this process binds itself (so a port already taken is refused with the
// system's reason, never shared), and a thread of its own that answers each
// request through a handler. Meant for a few short requests a minute, not
// for traffic.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvo::platform {

struct ListenAddress {
  std::string host;  // a numeric IPv4 or IPv6 address, without brackets
  uint16_t port = 0;
};

// "PORT" (loopback: nothing is offered to the network unless asked),
// "ADDRESS:PORT", or "[IPV6]:PORT"; "localhost" stands for 127.0.0.1. Absent
// with `error` set for anything else, a port of 0 or past 65535 included.
std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error);

// "127.0.0.1:9100", "[::1]:9100".
std::string describe(const ListenAddress& address);

struct HttpRequest {
  std::string method;
  std::string path;    // without the query
  std::string accept;  // the Accept header, empty when absent
};

struct HttpReply {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Type
};

class HttpListener {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  // Binds and listens on `address`, then answers on a thread of its own;
  // `handler` runs there, one request at a time, and an exception from it
  // becomes a 500. Absent with `error` as "cannot listen on ADDRESS: REASON"
  // when the address is not this machine's, the port is taken, or the
  // server cannot start.
  static std::unique_ptr<HttpListener> start(const ListenAddress& address, Handler handler,
                                             std::string& error);

  // Stops answering and closes the socket; a request being answered ends first.
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  const ListenAddress& address() const { return address_; }

  struct Server;

 private:
  HttpListener(ListenAddress address, Handler handler)
      : address_(std::move(address)), handler_(std::move(handler)) {}
  ListenAddress address_;
  Handler handler_;
  Server* server_ = nullptr;
};

}  // namespace norvo::platform
