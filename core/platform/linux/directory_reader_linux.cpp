#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/platform/directory_reader.hpp"

namespace norvo::platform {

namespace {

// Only what the scanner reads: asking for less lets network and FUSE file
// systems skip work, and no sync is forced for a size.
constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_INO | STATX_NLINK | STATX_BLOCKS | STATX_MTIME | STATX_BTIME;
constexpr int kStatxFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

void fill(const struct statx& sx, EntryStatus& out) {
  mode_t mode = sx.stx_mode;
  out.type = S_ISDIR(mode)   ? EntryType::folder
             : S_ISREG(mode) ? EntryType::file
             : S_ISLNK(mode) ? EntryType::link
                             : EntryType::other;
  out.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  out.inode = sx.stx_ino;
  out.links = sx.stx_nlink;
  out.allocatedBytes = static_cast<int64_t>(sx.stx_blocks) * 512;
  out.modified = sx.stx_mtime.tv_sec;
  out.created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : 0;
}

bool statusAt(int dirFd, const char* name, int flags, EntryStatus& out) {
  struct statx sx {};
  if (::statx(dirFd, name, flags, kStatxMask, &sx) != 0) return false;
  fill(sx, out);
  return true;
}

OpenOutcome outcomeOf(int error) {
  return error == EACCES || error == EPERM ? OpenOutcome::denied : OpenOutcome::gone;
}

}  // namespace

DirectoryReader::DirectoryReader() = default;

DirectoryReader::~DirectoryReader() { close(); }

void DirectoryReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  filled_ = offset_ = 0;
  resumeAt_ = 0;
  suspended_ = ended_ = false;
}

OpenOutcome DirectoryReader::openPath(const std::string& path, EntryStatus& status) {
  close();
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return outcomeOf(errno);
  if (!statusAt(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, status)) {
    int error = errno;
    ::close(fd);
    return outcomeOf(error);
  }
  fd_ = fd;
  device_ = status.device;
  inode_ = status.inode;
  return OpenOutcome::opened;
}

OpenOutcome DirectoryReader::openChild(const DirectoryReader& parent, const char* name,
                                       const EntryStatus& expected) {
  close();
  int fd = ::openat(parent.fd_, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return outcomeOf(errno);
  // The identity comes from the listing's status rather than a second look
  // at the open folder: a folder swapped in that instant is the rare loser,
  // one system call per folder on every scan is not.
  fd_ = fd;
  device_ = expected.device;
  inode_ = expected.inode;
  return OpenOutcome::opened;
}

bool DirectoryReader::fill() {
  if (!buffer_) buffer_.reset(new char[kBufferBytes]);
  long n = ::syscall(SYS_getdents64, fd_, buffer_.get(), kBufferBytes);
  if (n <= 0) {
    ended_ = true;
    filled_ = offset_ = 0;
    return false;
  }
  filled_ = n;
  offset_ = 0;
  return true;
}

bool DirectoryReader::next(std::string_view& name) {
  if (fd_ < 0 || ended_) return false;
  for (;;) {
    if (offset_ >= filled_ && !fill()) return false;
    // glibc's dirent64 has the kernel's record layout.
    auto* d = reinterpret_cast<const struct dirent64*>(buffer_.get() + offset_);
    offset_ += d->d_reclen;
    resumeAt_ = d->d_off;
    const char* n = d->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    name = std::string_view(n, std::strlen(n));
    return true;
  }
}

bool DirectoryReader::status(const char* name, EntryStatus& out) const {
  return fd_ >= 0 && statusAt(fd_, name, kStatxFlags, out);
}

void DirectoryReader::suspend() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.reset();
  filled_ = offset_ = 0;
  suspended_ = true;
}

bool DirectoryReader::resume(const DirectoryReader& child) {
  if (!suspended_ || child.fd_ < 0) return false;
  suspended_ = false;
  int fd = ::openat(child.fd_, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    ended_ = true;
    return false;
  }
  EntryStatus now;
  bool same = statusAt(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, now) && now.device == device_ &&
              now.inode == inode_;
  // The listing position is the file system's own cookie, valid for seeking.
  if (!same || ::lseek(fd, static_cast<off_t>(resumeAt_), SEEK_SET) < 0) {
    ::close(fd);
    ended_ = true;
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace norvo::platform
