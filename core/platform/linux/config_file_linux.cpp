#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/platform/config_file.hpp"
#include "core/platform/linux/unique_fd.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

namespace {

// Why a file of this type is not edited, in words for the owner.
std::string notEditable(mode_t type) {
  if (S_ISDIR(type)) return "it is a folder";
  if (S_ISFIFO(type)) return "it is a named pipe (FIFO)";
  if (S_ISLNK(type)) return "it is a symbolic link";
  if (S_ISSOCK(type)) return "it is a socket";
  return "it is a device, not a regular file";
}

std::string sizeText(size_t bytes) {
  if (bytes >= 1024 * 1024) return std::to_string(bytes / (1024 * 1024)) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

ConfigRead readConfigFile(const fs::path& path, size_t maxBytes, bool followLinks) {
  ConfigRead out;
  auto refuse = [&](std::string reason) {
    out.state = ConfigRead::State::refused;
    out.reason = std::move(reason);
    out.bytes.clear();
    return out;
  };
  // Look before opening: opening a FIFO or a device may block or act.
  struct stat st {};
  int statFlags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
  if (::fstatat(AT_FDCWD, path.c_str(), &st, statFlags) != 0) {
    // A file where a folder on the way should be: nothing is there to
    // read, and the write will say why it cannot make the folder.
    if (errno == ENOENT || errno == ENOTDIR) return out;
    return refuse(std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) return refuse(notEditable(st.st_mode));
  UniqueFd fd(::open(
      path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW)));
  if (!fd.valid()) {
    if (errno == ENOENT) return out;
    return refuse(errno == ELOOP ? notEditable(S_IFLNK) : std::strerror(errno));
  }
  // What was opened may have been swapped in after the look.
  if (::fstat(fd.get(), &st) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(notEditable(st.st_mode));
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes)
    return refuse("it is larger than " + sizeText(maxBytes));
  out.mode = st.st_mode & 07777;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return refuse(std::strerror(errno));
    }
    if (n == 0) break;
    out.bytes.append(buffer, static_cast<size_t>(n));
    if (out.bytes.size() > maxBytes) return refuse("it is larger than " + sizeText(maxBytes));
  }
  out.state = ConfigRead::State::read;
  return out;
}

bool writeBackupOnce(const fs::path& path, const std::string& bytes, mode_t mode,
                     std::string& error) {
  // O_EXCL also fails on a link, dangling or not: the first backup stays for
  // good and a planted link never receives the owner's settings.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    if (errno == EEXIST) return true;
    error = "cannot write " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
    error = "cannot write " + path.string() + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

std::string replaceConfigFile(const fs::path& path, const std::string& bytes, mode_t mode) {
  fs::path dir = path.parent_path();
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return "cannot create " + dir.string() + ": " + ec.message();
  fs::path temp =
      dir / ("." + path.filename().string() + ".zemnorvo-" + std::to_string(::getpid()));
  auto failed = [&](int err) {
    ::unlink(temp.c_str());
    return "cannot write " + path.string() + ": " + std::strerror(err);
  };
  ::unlink(temp.c_str());  // our own leftover of a killed run
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return "cannot write " + path.string() + ": " + std::strerror(errno);
  // The owner's permission bits survive the rewrite (the umask would not).
  if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
    return failed(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) return failed(errno);
  return {};
}

bool isExecutableFile(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool existsNoFollow(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<std::string> linkTarget(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return std::nullopt;
  auto target = fs::read_symlink(path, ec);
  if (ec) return std::nullopt;
  return target.string();
}

bool sameFile(const fs::path& a, const fs::path& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string placeLink(const fs::path& path, const std::string& target) {
  fs::path dir = path.parent_path();
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return "cannot create " + dir.string() + ": " + ec.message();
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path.string() + " is a folder";
  // A new link renamed over the old entry: at no moment is there nothing.
  fs::path temp = dir / (".zemnorvo-link-" + std::to_string(::getpid()));
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) return std::strerror(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return std::strerror(err);
  }
  return {};
}

void removeLink(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path.c_str());
}

}  // namespace norvo::platform
