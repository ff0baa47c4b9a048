#include "cli/bounded_read.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace norvo::cli {

BoundedRead readBounded(int fd, std::size_t maxBytes, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  BoundedRead out;
  const auto deadline = Clock::now() + timeout;
  char buffer[16 * 1024];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return out;
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return out;
    }
    if (ready == 0) return out;
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return out;
    }
    if (n == 0) {
      out.complete = true;
      return out;
    }
    std::size_t room = maxBytes - out.data.size();
    if (static_cast<std::size_t>(n) > room) {
      out.data.append(buffer, room);
      out.tooLarge = true;
      return out;
    }
    out.data.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace norvo::cli
