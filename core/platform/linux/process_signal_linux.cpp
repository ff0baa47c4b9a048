// Pinning through a pidfd (pidfd_open(2), Linux 5.3). The descriptor refers to
// the kernel's struct pid of the process, not to the number: once that process
// is reaped the number may be handed to a new process, but pidfd_send_signal(2)
// on the old descriptor then fails with ESRCH instead of reaching the newcomer.
// Kernels without pidfds (ENOSYS) fall back to kill(2) on the bare pid; the
// caller then keeps its start-time check immediately before the signal. Some
// container sandboxes deny unknown system calls with EPERM instead of ENOSYS;
// pidfd_open itself never answers EPERM, so that is read as "unsupported" too.
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

#include "core/platform/process_signal.hpp"

namespace norvo::platform {

std::optional<PinnedProcess> PinnedProcess::pin(int32_t pid) {
  if (pid < 1) return std::nullopt;
  long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
  if (fd >= 0) return PinnedProcess(pid, static_cast<int>(fd));
  if (errno == ENOSYS || errno == EPERM) {
    if (probe(pid) == SignalProbe::noProcess) return std::nullopt;
    return PinnedProcess(pid, -1);
  }
  return std::nullopt;
}

PinnedProcess::PinnedProcess(PinnedProcess&& other) noexcept
    : pid_(other.pid_), fd_(std::exchange(other.fd_, -1)) {}

PinnedProcess& PinnedProcess::operator=(PinnedProcess&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    pid_ = other.pid_;
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

PinnedProcess::~PinnedProcess() {
  if (fd_ >= 0) ::close(fd_);
}

bool PinnedProcess::send(int signal) const {
  if (fd_ < 0) return ::kill(pid_, signal) == 0;
  return ::syscall(SYS_pidfd_send_signal, fd_, signal, nullptr, 0) == 0;
}

bool PinnedProcess::exited() const {
  if (fd_ < 0) return probe(pid_) == SignalProbe::noProcess;
  // A pidfd polls readable once the whole thread group has exited, zombie or
  // reaped (see pidfd_open(2)).
  pollfd p{fd_, POLLIN, 0};
  int rc = ::poll(&p, 1, 0);
  return rc > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

SignalProbe probe(int32_t pid) {
  if (pid < 1) return SignalProbe::noProcess;
  if (::kill(pid, 0) == 0) return SignalProbe::delivered;
  return errno == EPERM ? SignalProbe::notPermitted : SignalProbe::noProcess;
}

}  // namespace norvo::platform
