#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "core/platform/stop_signal.hpp"

namespace norvo::platform {

namespace {

// The handler can reach only globals; a lock-free atomic int is safe to read there.
std::atomic<int> routedFd{-1};
struct sigaction previousInt {};
struct sigaction previousTerm {};

extern "C" void routeToStop(int) {
  int saved = errno;  // a handler must leave errno as it found it
  int fd = routedFd.load();
  if (fd >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
  }
  errno = saved;
}

}  // namespace

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

StopSignal::~StopSignal() { ::close(fd_); }

void StopSignal::request() noexcept {
  // The counter is never read down, so the descriptor stays readable for good.
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

bool StopSignal::requested() const noexcept {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

bool StopSignal::waitUntil(std::chrono::steady_clock::time_point deadline) const noexcept {
  using namespace std::chrono;
  for (;;) {
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
    // Round up so that a wait never returns a moment before its deadline and
    // spins on a zero timeout.
    if (deadline > steady_clock::now() + left) left += milliseconds{1};
    if (left <= milliseconds::zero()) return requested();
    pollfd p{fd_, POLLIN, 0};
    int timeout = static_cast<int>(std::min<milliseconds::rep>(left.count(), 60'000));
    int r = ::poll(&p, 1, timeout);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return requested();
  }
}

StopSignal::SignalRoute::SignalRoute(StopSignal& signal) {
  int expected = -1;
  if (!routedFd.compare_exchange_strong(expected, signal.fd_))
    throw std::logic_error("a stop signal already receives SIGINT and SIGTERM");
  struct sigaction action {};
  action.sa_handler = routeToStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked call should see EINTR and look again
  ::sigaction(SIGINT, &action, &previousInt);
  ::sigaction(SIGTERM, &action, &previousTerm);
}

StopSignal::SignalRoute::~SignalRoute() {
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  routedFd.store(-1);
}

}  // namespace norvo::platform
