// libmicrohttpd answers on its own thread; the socket is bound here first so
// that a port already taken is refused with the system's own reason.
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "core/platform/http_listener.hpp"

namespace norvo::platform {

struct HttpListener::Server {
  MHD_Daemon* daemon = nullptr;
};

namespace {

// Enough for a few scrapers at once; more are refused by the library rather
// than queued without end.
constexpr unsigned kConnectionLimit = 16;
constexpr unsigned kIdleSeconds = 10;
// The loop lives under a memory budget: a request line and headers fit in
// this, and the answering thread needs little stack.
constexpr size_t kConnectionMemory = 32 * 1024;
constexpr size_t kThreadStack = 1024 * 1024;

// A socket bound and listening on `address`; -1 with `error` set otherwise.
int listenOn(const ListenAddress& address, std::string& error) {
  auto refuse = [&](std::string_view reason) {
    error = "cannot listen on " + describe(address) + ": " + std::string(reason);
    return -1;
  };
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool v6 = address.host.find(':') != std::string::npos;
  if (v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(address.port);
    if (::inet_pton(AF_INET6, address.host.c_str(), &in6->sin6_addr) != 1)
      return refuse("not a numeric IPv6 address");
    length = sizeof(sockaddr_in6);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(address.port);
    if (::inet_pton(AF_INET, address.host.c_str(), &in4->sin_addr) != 1)
      return refuse("not a numeric IPv4 address");
    length = sizeof(sockaddr_in);
  }
  int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return refuse(std::strerror(errno));
  // Lets a restarted loop take its port back from connections still in
  // TIME_WAIT; on Linux it never lets two listeners share a port.
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (v6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 16) != 0) {
    int saved = errno;
    ::close(fd);
    return refuse(std::strerror(saved));
  }
  return fd;
}

MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** state) {
  const auto& handler = *static_cast<const HttpListener::Handler*>(cls);
  // A body, if any, is not read: every answer is given on the first call,
  // and the library discards what follows.
  (void)uploadSize;
  (void)state;
  HttpReply reply;
  try {
    HttpRequest request;
    request.method = method ? method : "";
    request.path = url ? url : "";
    if (auto q = request.path.find('?'); q != std::string::npos) request.path.resize(q);
    if (const char* accept =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT))
      request.accept = accept;
    reply = handler(request);
  } catch (const std::exception& e) {
    reply = {
        500, "text/plain; charset=utf-8", std::string("internal error: ") + e.what() + "\n", {}};
  }
  MHD_Response* response =
      MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
  for (const auto& [name, value] : reply.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace

std::unique_ptr<HttpListener> HttpListener::start(const ListenAddress& address, Handler handler,
                                                  std::string& error) {
  int fd = listenOn(address, error);
  if (fd < 0) return nullptr;
  std::unique_ptr<HttpListener> listener(new HttpListener(address, std::move(handler)));
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
  if (address.host.find(':') != std::string::npos) flags |= MHD_USE_IPv6;
  MHD_Daemon* daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &answer, &listener->handler_, MHD_OPTION_LISTEN_SOCKET, fd,
      MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_THREAD_STACK_SIZE,
      kThreadStack, MHD_OPTION_END);
  if (!daemon) {
    // The library may already have closed the socket on its way out; closing
    // it again could close a descriptor opened since, so it is left to exit.
    error = "cannot listen on " + describe(address) + ": the HTTP server did not start";
    return nullptr;
  }
  listener->server_ = new Server{daemon};
  return listener;
}

HttpListener::~HttpListener() {
  if (!server_) return;
  // Joins the answering thread and closes the listening socket.
  MHD_stop_daemon(server_->daemon);
  delete server_;
}

}  // namespace norvo::platform
