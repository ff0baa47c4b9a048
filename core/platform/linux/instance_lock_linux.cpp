#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

#include "core/platform/instance_lock.hpp"

namespace norvo::platform {

InstanceLock::InstanceLock(const std::filesystem::path& file) : file_(file) {
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  // Say which folder could not be made, not only that the file is missing.
  if (ec) throw std::system_error(ec, "cannot create " + file.parent_path().string());
  // O_NOFOLLOW: a link planted in place of the lock file is refused, not followed.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "open " + file.string());
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return;
    throw std::system_error(err, std::generic_category(), "lock " + file.string());
  }
  fd_ = fd;
  outcome_ = Outcome::acquired;
  // The pid is only for the message a second instance prints; the lock itself
  // is what keeps it out, so a failed write changes nothing.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] auto n = ::pwrite(fd_, pid.data(), pid.size(), 0);
  }
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

std::optional<pid_t> InstanceLock::holder() const {
  int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  char buffer[32];
  auto n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  pid_t pid = 0;
  auto [end, ec] = std::from_chars(buffer, buffer + n, pid);
  if (ec != std::errc{} || end == buffer + n || *end != '\n' || pid <= 0) return std::nullopt;
  return pid;
}

}  // namespace norvo::platform
