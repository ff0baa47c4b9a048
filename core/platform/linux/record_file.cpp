#include "core/platform/record_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "core/platform/linux/unique_fd.hpp"

namespace norvo::record_file {

namespace fs = std::filesystem;

namespace {

std::string temporaryName(const fs::path& target) {
  // Unique per process and call, so concurrent writers never share a temp file.
  static std::atomic<unsigned long> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return "." + target.filename().string() + ".tmp." + std::to_string(::getpid()) + "." +
         std::to_string(counter.fetch_add(1)) + "." + std::to_string(stamp);
}

}  // namespace

Written writeAtomically(const fs::path& target, std::string_view bytes, Folders folders) {
  auto failed = [&](const fs::path& what, int err) {
    return Written{"cannot write " + what.string() + ": " + std::strerror(err)};
  };
  fs::path dir = target.parent_path();
  if (!dir.empty() && folders == Folders::create) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return Written{"cannot create " + dir.string() + ": " + ec.message()};
  }

  fs::path temp = (dir.empty() ? fs::path(".") : dir) / temporaryName(target);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return failed(target, errno);
  int err = 0;
  if (!platform::writeAll(fd, bytes) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return failed(target, err);
  }
  // Make the rename itself durable; a failure here does not undo the write.
  int dfd = ::open((dir.empty() ? fs::path(".") : dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

int sweepStaleTemporaries(const fs::path& folder) {
  int removed = 0;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return 0;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    // ".NAME.tmp.PID.COUNTER.STAMP", as temporaryName makes them.
    std::string name = it->path().filename().string();
    auto marker = name.rfind(".tmp.");
    if (name.empty() || name[0] != '.' || marker == std::string::npos) continue;
    std::string rest = name.substr(marker + 5);
    auto dot = rest.find('.');
    if (dot == std::string::npos || dot == 0) continue;
    pid_t pid = 0;
    for (size_t i = 0; i < dot; ++i) {
      if (rest[i] < '0' || rest[i] > '9' || pid > 4194304) {
        pid = 0;
        break;
      }
      pid = pid * 10 + (rest[i] - '0');
    }
    if (pid <= 0 || (::kill(pid, 0) == 0 || errno == EPERM)) continue;
    if (::unlinkat(AT_FDCWD, it->path().c_str(), 0) == 0) ++removed;
  }
  return removed;
}

std::optional<std::string> readWhole(const fs::path& path, size_t maxBytes, Links links) {
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::refuse ? O_NOFOLLOW : 0);
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > maxBytes) {
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return out;
}

}  // namespace norvo::record_file
