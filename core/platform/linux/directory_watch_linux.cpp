#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "core/platform/directory_watch.hpp"

namespace norvo::platform {

std::optional<DirectoryWatch> DirectoryWatch::open(
    const std::vector<std::filesystem::path>& folders, std::string& error) {
  int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) {
    error = std::string("cannot watch folders: ") + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<std::pair<int, std::filesystem::path>> watches;
  for (const auto& folder : folders) {
    // IN_ONLYDIR: a file or link planted under the folder's name is refused.
    int wd = ::inotify_add_watch(
        fd, folder.c_str(),
        IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_ONLYDIR);
    if (wd < 0) {
      error = "cannot watch " + folder.string() + ": " + std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    watches.emplace_back(wd, folder);
  }
  return DirectoryWatch(fd, std::move(watches));
}

DirectoryWatch::DirectoryWatch(DirectoryWatch&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), watches_(std::move(other.watches_)) {}

DirectoryWatch& DirectoryWatch::operator=(DirectoryWatch&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    watches_ = std::move(other.watches_);
  }
  return *this;
}

DirectoryWatch::~DirectoryWatch() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<std::filesystem::path> DirectoryWatch::changes(std::chrono::milliseconds timeout) {
  std::vector<std::filesystem::path> found;
  pollfd p{fd_, POLLIN, 0};
  int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) return found;
  // inotify(7): a buffer aligned for the event struct and large enough for at
  // least one event with the longest name.
  alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN: drained
    for (char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      for (const auto& [wd, folder] : watches_) {
        if (wd != event->wd) continue;
        if (event->mask & IN_DELETE_SELF)
          found.push_back(folder);
        else if (event->len > 0)
          found.push_back(folder / event->name);
      }
    }
  }
  return found;
}

}  // namespace norvo::platform
