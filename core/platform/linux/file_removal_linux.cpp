#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "core/platform/file_removal.hpp"
#include "core/platform/linux/loaded_library.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/linux/unique_fd.hpp"
#include "core/platform/tool_run.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

namespace {

// `path` relative to `base` when it lies strictly below it, lexically; absent
// otherwise ("..", ".", and paths outside give nothing).
std::optional<fs::path> relativeBelow(const fs::path& base, const fs::path& path) {
  auto b = base.lexically_normal();
  auto p = path.lexically_normal();
  if (!b.is_absolute() || !p.is_absolute()) return std::nullopt;
  auto rel = p.lexically_relative(b);
  if (rel.empty() || *rel.begin() == ".." || rel == ".") return std::nullopt;
  return rel;
}

// Opens the folder `rel` below `baseFd` with no link anywhere on the way.
// openat2 lets the kernel check the whole way in one step; without it (before
// Linux 5.6, or where seccomp hides it) each component is opened with
// O_NOFOLLOW from the previous one.
UniqueFd openFolderBelow(int baseFd, const fs::path& rel) {
  if (rel.empty() || rel == ".") return UniqueFd(::fcntl(baseFd, F_DUPFD_CLOEXEC, 0));
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long fd = ::syscall(SYS_openat2, baseFd, rel.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return UniqueFd(static_cast<int>(fd));
  UniqueFd current(::fcntl(baseFd, F_DUPFD_CLOEXEC, 0));
  for (const auto& part : rel) {
    if (!current.valid()) break;
    if (part == ".." || part == ".") {
      errno = EXDEV;
      return UniqueFd();
    }
    current = UniqueFd(
        ::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  }
  return current;
}

struct Located {
  UniqueFd parent;
  std::string name;
  ItemCheck check = ItemCheck::outside;
  int errorCode = 0;
};

// What a failed lookup on the way means: a missing folder or item is gone;
// one we may not look into is there as far as we know, and the removal will
// fail with the permission error (the owner can grant access and retry); a
// link (ELOOP), an escape (EXDEV) or a file where a folder should be refuse it.
void classifyLookup(Located& out, int err) {
  out.errorCode = err;
  out.check = err == ENOENT                   ? ItemCheck::gone
              : err == EACCES || err == EPERM ? ItemCheck::present
                                              : ItemCheck::outside;
}

Located locate(const fs::path& base, const fs::path& path) {
  Located out;
  auto rel = relativeBelow(base, path);
  if (!rel) return out;
  UniqueFd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!baseFd.valid()) {
    classifyLookup(out, errno);
    return out;
  }
  out.name = rel->filename().string();
  out.parent = openFolderBelow(baseFd.get(), rel->parent_path());
  if (!out.parent.valid()) {
    classifyLookup(out, errno);
    return out;
  }
  struct stat st {};
  if (::fstatat(out.parent.get(), out.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    classifyLookup(out, errno);
    return out;
  }
  out.check = S_ISLNK(st.st_mode) ? ItemCheck::outside : ItemCheck::present;
  return out;
}

// Walks one entry of `dirFd`: counts its allocated bytes and, unless
// `dryRun`, removes it. Hard-linked files count once by (device, inode).
class Walk {
 public:
  Walk(bool dryRun, std::chrono::steady_clock::time_point deadline,
       std::optional<uint32_t> owner = std::nullopt)
      : dryRun_(dryRun), deadline_(deadline), owner_(owner) {}

  // False at the first failure (its errno is kept) or when the deadline passed.
  bool entry(int dirFd, const char* name, dev_t device) {
    if (std::chrono::steady_clock::now() > deadline_) return fail(ETIMEDOUT);
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(errno);
    // Another user's entry is theirs to remove, even where ours is the folder.
    if (owner_ && st.st_uid != *owner_) return fail(EPERM);
    if (S_ISDIR(st.st_mode)) {
      // A mount point or another file system inside is not the app's data.
      if (st.st_dev != device) return fail(EXDEV);
      UniqueFd sub(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
      if (!sub.valid()) return fail(errno);
      if (!children(sub.get(), device)) return false;
      count(st);
      if (!dryRun_ && ::unlinkat(dirFd, name, AT_REMOVEDIR) != 0) return fail(errno);
      return true;
    }
    count(st);
    if (!dryRun_ && ::unlinkat(dirFd, name, 0) != 0) return fail(errno);
    return true;
  }

  int64_t bytes() const { return bytes_; }
  int errorCode() const { return error_; }

 private:
  bool children(int fd, dev_t device) {
    // fdopendir takes the descriptor over; a duplicate keeps `fd` for the calls.
    int listFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (listFd < 0) return fail(errno);
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
      ::close(listFd);
      return fail(errno);
    }
    std::vector<std::string> names;
    errno = 0;
    while (dirent* e = ::readdir(dir)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.emplace_back(e->d_name);
    }
    int listError = errno;
    ::closedir(dir);
    if (listError != 0) return fail(listError);
    for (const auto& n : names)
      if (!entry(fd, n.c_str(), device)) return false;
    return true;
  }

  // Removing one link of a file lowers the count the other links show, so
  // membership is looked up for every file and only files with more links
  // are remembered.
  void count(const struct stat& st) {
    if (!S_ISDIR(st.st_mode)) {
      std::pair key{st.st_dev, st.st_ino};
      if (seen_.count(key)) return;
      if (st.st_nlink > 1) seen_.insert(key);
    }
    bytes_ += static_cast<int64_t>(st.st_blocks) * 512;
  }

  bool fail(int code) {
    error_ = code;
    return false;
  }

  bool dryRun_;
  std::chrono::steady_clock::time_point deadline_;
  std::optional<uint32_t> owner_;
  int64_t bytes_ = 0;
  int error_ = 0;
  std::set<std::pair<dev_t, ino_t>> seen_;
};

Removal failure(int code, const fs::path& path) {
  Removal r;
  r.errorCode = code;
  r.message = path.string() + ": " + std::strerror(code);
  return r;
}

Removal refusal(const Located& where, const fs::path& path) {
  Removal r = where.check == ItemCheck::gone
                  ? failure(ENOENT, path)
                  : failure(where.errorCode ? where.errorCode : ELOOP, path);
  r.check = where.check;
  return r;
}

// The walk over an item already located; `dryRun` only counts.
Removal walkLocated(const Located& where, const fs::path& path, bool dryRun,
                    std::optional<uint32_t> owner = std::nullopt) {
  if (where.errorCode != 0) return failure(where.errorCode, path);
  struct stat parent {};
  if (::fstat(where.parent.get(), &parent) != 0) return failure(errno, path);
  Walk walk(dryRun, std::chrono::steady_clock::time_point::max(), owner);
  if (!walk.entry(where.parent.get(), where.name.c_str(), parent.st_dev))
    return failure(walk.errorCode(), path);
  Removal r;
  r.ok = true;
  r.bytes = walk.bytes();
  return r;
}

// GIO and the GObject and GLib libraries below it are opened at the first
// move to the Trash: the sampling loop links none of them. dlsym on the GIO
// handle also finds the symbols of the libraries it depends on.
struct Gio {
  decltype(&::g_file_new_for_path) g_file_new_for_path = nullptr;
  decltype(&::g_file_trash) g_file_trash = nullptr;
  decltype(&::g_io_error_quark) g_io_error_quark = nullptr;
  decltype(&::g_object_unref) g_object_unref = nullptr;
  decltype(&::g_error_free) g_error_free = nullptr;
  std::optional<std::string> error;
};

const Gio& gio() {
  static const Gio loaded = [] {
    Gio l;
    const LibrarySymbol symbols[] = {
        LIBRARY_SYMBOL(l, g_file_new_for_path), LIBRARY_SYMBOL(l, g_file_trash),
        LIBRARY_SYMBOL(l, g_io_error_quark),    LIBRARY_SYMBOL(l, g_object_unref),
        LIBRARY_SYMBOL(l, g_error_free),
    };
    l.error = loadLibrary("libgio-2.0.so.0", symbols);
    return l;
  }();
  return loaded;
}

// GIO's error codes as errno values, so that callers classify one kind of
// code only.
int errnoOf(const Gio& lib, const GError* error) {
  if (error->domain != lib.g_io_error_quark()) return EIO;
  switch (error->code) {
    case G_IO_ERROR_NOT_FOUND: return ENOENT;
    case G_IO_ERROR_PERMISSION_DENIED: return EACCES;
    case G_IO_ERROR_READ_ONLY: return EROFS;
    case G_IO_ERROR_NOT_SUPPORTED: return ENOTSUP;
    case G_IO_ERROR_NO_SPACE: return ENOSPC;
    default: return EIO;
  }
}

}  // namespace

ItemCheck checkBelow(const fs::path& base, const fs::path& path) {
  return locate(base, path).check;
}

Removal deleteBelow(const fs::path& base, const fs::path& path, bool dryRun,
                    std::optional<uint32_t> owner) {
  auto where = locate(base, path);
  if (where.check != ItemCheck::present) return refusal(where, path);
  return walkLocated(where, path, dryRun, owner);
}

Listing listBelow(const fs::path& base, const fs::path& path) {
  Listing out;
  auto where = locate(base, path);
  out.check = where.check;
  out.errorCode = where.errorCode;
  if (where.check != ItemCheck::present) {
    if (out.errorCode == 0) out.errorCode = where.check == ItemCheck::gone ? ENOENT : ELOOP;
    return out;
  }
  if (where.errorCode != 0) return out;
  // fdopendir owns the descriptor from here on; closedir closes it.
  int folder = ::openat(where.parent.get(), where.name.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (folder < 0) {
    out.errorCode = errno;
    return out;
  }
  DIR* dir = ::fdopendir(folder);
  if (!dir) {
    out.errorCode = errno;
    ::close(folder);
    return out;
  }
  errno = 0;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      out.names.emplace_back(e->d_name);
  }
  out.errorCode = errno;
  ::closedir(dir);
  return out;
}

Removal trashBelow(const fs::path& base, const fs::path& path) {
  auto where = locate(base, path);
  if (where.check != ItemCheck::present) return refusal(where, path);
  auto size = walkLocated(where, path, true);
  if (where.errorCode != 0) return size;
  const Gio& lib = gio();
  if (lib.error) {
    Removal r;
    r.errorCode = ENOTSUP;
    r.message = path.string() + ": " + *lib.error;
    return r;
  }
  GFile* file = lib.g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  bool trashed = lib.g_file_trash(file, nullptr, &error);
  lib.g_object_unref(file);
  if (!trashed) {
    Removal r;
    r.errorCode = error ? errnoOf(lib, error) : EIO;
    r.message = path.string() + ": " + (error ? error->message : "could not be moved to the Trash");
    if (error) lib.g_error_free(error);
    return r;
  }
  Removal r;
  r.ok = true;
  r.bytes = size.ok ? size.bytes : 0;
  return r;
}

std::optional<int64_t> measureBytes(const fs::path& path,
                                    std::chrono::steady_clock::time_point deadline) {
  auto parentPath = path.parent_path();
  UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(parent.get(), &st) != 0) return std::nullopt;
  Walk walk(true, deadline);
  if (!walk.entry(parent.get(), path.filename().c_str(), st.st_dev)) return std::nullopt;
  return walk.bytes();
}

Removal uninstallFlatpak(const std::string& appID) {
  Removal r;
  r.errorCode = EIO;
  if (appID.empty() || appID[0] == '-') {
    r.message = appID + ": not a Flatpak app id";
    return r;
  }
  auto ran = runTool({"flatpak", "uninstall", "--user", "--noninteractive", appID}, {},
                     std::chrono::seconds(120), 16 * 1024);
  if (!ran.started) {
    r.message = appID + ": flatpak could not be started: " + ran.error;
    return r;
  }
  if (ran.succeeded()) {
    r.ok = true;
    r.errorCode = 0;
    return r;
  }
  auto& output = ran.output;
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  auto lastLine =
      output.substr(output.rfind('\n') == std::string::npos ? 0 : output.rfind('\n') + 1);
  r.message = appID + ": " +
              (ran.timedOut ? std::string("flatpak did not finish in 120 seconds")
                            : "flatpak uninstall failed" +
                                  (lastLine.empty() ? std::string() : ": " + lastLine));
  return r;
}

std::optional<int64_t> availableBytes(const fs::path& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return std::nullopt;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

std::optional<uint32_t> ownerOf(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_uid;
}

uint32_t currentUser() { return ::getuid(); }

std::optional<FileIdentity> identityOf(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

std::set<FileIdentity> lockedFiles(const Roots& roots) {
  // Each line of proc(5)'s "locks" names the file as MAJOR:MINOR:INODE, the
  // device numbers in hexadecimal: "1: FLOCK ADVISORY WRITE 472 fd:01:1311770
  // 0 EOF"; a waiter's line has "->" after the number and so a field more.
  std::set<FileIdentity> out;
  auto text = text_file::read(roots.proc / "locks");
  if (!text.text) return out;
  size_t start = 0;
  const auto& all = *text.text;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    start = end + 1;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    for (size_t at = line.find(':'); at != std::string::npos; at = line.find(':', at + 1)) {
      size_t word = line.rfind(' ', at);
      word = word == std::string::npos ? 0 : word + 1;
      if (std::sscanf(line.c_str() + word, "%x:%x:%llu", &major, &minor, &inode) == 3) {
        out.insert({makedev(major, minor), inode});
        break;
      }
    }
  }
  return out;
}

bool canListFolder(const fs::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid()) return false;
  DIR* dir = ::fdopendir(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!dir) return false;
  std::vector<std::string> folders;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_type == DT_DIR && std::strcmp(e->d_name, ".") != 0 &&
        std::strcmp(e->d_name, "..") != 0)
      folders.emplace_back(e->d_name);
  }
  ::closedir(dir);
  for (const auto& name : folders) {
    UniqueFd sub(::openat(fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (!sub.valid()) return false;
  }
  return true;
}

}  // namespace norvo::platform
