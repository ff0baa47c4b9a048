#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/platform/jobserver_fifo.hpp"
#include "core/platform/linux/unique_fd.hpp"

namespace norvo::platform {

namespace {

using Outcome = JobserverFifo::Outcome;

std::string reason(int error) { return std::strerror(error); }

// Why a FIFO we found may not carry the pool; empty when it may.
std::string refusal(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
  if (!S_ISFIFO(st.st_mode)) return "it is not a FIFO";
  if (st.st_uid != ::geteuid()) return "it belongs to another user";
  if ((st.st_mode & 077) != 0) return "it is open to other users";
  return {};
}

struct Opened {
  UniqueFd fd;
  struct stat st {};
};

// Opens `path` read-write after checking it without following a link, and
// checks the descriptor again: a name swapped in between is caught there.
std::optional<Opened> openChecked(const std::filesystem::path& path, int folder, Outcome& outcome,
                                  std::string& error) {
  auto name = path.filename();
  struct stat before {};
  if (::fstatat(folder, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
    outcome = errno == ENOENT ? Outcome::missing : Outcome::failed;
    error = "cannot read " + path.string() + ": " + reason(errno);
    return std::nullopt;
  }
  if (auto why = refusal(before); !why.empty()) {
    outcome = Outcome::refused;
    error = "refusing " + path.string() + ": " + why;
    return std::nullopt;
  }
  // O_NONBLOCK: whatever may have been swapped in, the open never waits.
  Opened o{UniqueFd(::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)),
           {}};
  if (!o.fd.valid()) {
    outcome = errno == ELOOP ? Outcome::refused : Outcome::failed;
    error = (errno == ELOOP ? "refusing " : "cannot open ") + path.string() + ": " +
            (errno == ELOOP ? "it is a symbolic link" : reason(errno));
    return std::nullopt;
  }
  if (::fstat(o.fd.get(), &o.st) != 0) {
    outcome = Outcome::failed;
    error = "cannot read " + path.string() + ": " + reason(errno);
    return std::nullopt;
  }
  auto why = refusal(o.st);
  if (why.empty() && (o.st.st_dev != before.st_dev || o.st.st_ino != before.st_ino))
    why = "it was replaced while being opened";
  if (!why.empty()) {
    outcome = Outcome::refused;
    error = "refusing " + path.string() + ": " + why;
    return std::nullopt;
  }
  return o;
}

UniqueFd openFolder(const std::filesystem::path& folder) {
  return UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

extern "C" void onInterrupt(int) {}

}  // namespace

std::optional<std::filesystem::path> jobserverPath() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (!dir || dir[0] != '/') return std::nullopt;
  return std::filesystem::path(dir) / "ZemraNorvo" / "jobserver";
}

std::optional<JobserverFifo> JobserverFifo::keep(const std::filesystem::path& path,
                                                 Outcome& outcome, std::string& error) {
  auto parent = path.parent_path();
  if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
    outcome = Outcome::failed;
    error = "cannot create " + parent.string() + ": " + reason(errno);
    return std::nullopt;
  }
  auto folder = openFolder(parent);
  struct stat fs {};
  if (!folder.valid() || ::fstat(folder.get(), &fs) != 0) {
    outcome = errno == ELOOP || errno == ENOTDIR ? Outcome::refused : Outcome::failed;
    error = "cannot open " + parent.string() + ": " + reason(errno);
    return std::nullopt;
  }
  if (fs.st_uid != ::geteuid()) {
    outcome = Outcome::refused;
    error = "refusing " + parent.string() + ": it belongs to another user";
    return std::nullopt;
  }
  if (::mkfifoat(folder.get(), path.filename().c_str(), 0600) != 0 && errno != EEXIST) {
    outcome = Outcome::failed;
    error = "cannot create " + path.string() + ": " + reason(errno);
    return std::nullopt;
  }
  auto opened = openChecked(path, folder.get(), outcome, error);
  if (!opened) return std::nullopt;
  // A client probing whether the pool is kept holds a shared lock for a moment.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (::flock(opened->fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() > until) {
      outcome = Outcome::failed;
      error = "cannot keep " + path.string() + ": " +
              (errno == EWOULDBLOCK ? "another process keeps it" : reason(errno));
      return std::nullopt;
    }
    ::usleep(10'000);
  }
  int flags = ::fcntl(opened->fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(opened->fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    outcome = Outcome::failed;
    error = "cannot use " + path.string() + ": " + reason(errno);
    return std::nullopt;
  }
  outcome = Outcome::opened;
  return JobserverFifo(opened->fd.release(), opened->st.st_dev, opened->st.st_ino);
}

std::optional<JobserverFifo> JobserverFifo::join(const std::filesystem::path& path,
                                                 Outcome& outcome, std::string& error) {
  auto folder = openFolder(path.parent_path());
  if (!folder.valid()) {
    outcome = errno == ENOENT ? Outcome::missing : Outcome::refused;
    error = "cannot open " + path.parent_path().string() + ": " + reason(errno);
    return std::nullopt;
  }
  auto opened = openChecked(path, folder.get(), outcome, error);
  if (!opened) return std::nullopt;
  if (::flock(opened->fd.get(), LOCK_SH | LOCK_NB) == 0) {
    ::flock(opened->fd.get(), LOCK_UN);
    outcome = Outcome::notKept;
    error = "no process keeps " + path.string();
    return std::nullopt;
  }
  if (errno != EWOULDBLOCK) {
    outcome = Outcome::failed;
    error = "cannot use " + path.string() + ": " + reason(errno);
    return std::nullopt;
  }
  outcome = Outcome::opened;
  return JobserverFifo(opened->fd.release(), opened->st.st_dev, opened->st.st_ino);
}

JobserverFifo::JobserverFifo(JobserverFifo&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), device_(o.device_), inode_(o.inode_) {}

JobserverFifo& JobserverFifo::operator=(JobserverFifo&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(o.fd_, -1);
    device_ = o.device_;
    inode_ = o.inode_;
  }
  return *this;
}

JobserverFifo::~JobserverFifo() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<int64_t> JobserverFifo::available() const {
  int bytes = 0;
  if (::ioctl(fd_, FIONREAD, &bytes) != 0) return std::nullopt;
  return bytes;
}

bool JobserverFifo::put(int64_t count, std::string& error) const {
  std::string tokens(static_cast<std::size_t>(std::max<int64_t>(0, count)), '+');
  std::size_t done = 0;
  while (done < tokens.size()) {
    ssize_t n = ::write(fd_, tokens.data() + done, tokens.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "cannot write tokens: " + reason(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int64_t JobserverFifo::takeWithoutWaiting(int64_t count) const {
  int flags = ::fcntl(fd_, F_GETFL);
  if (count <= 0 || flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) return 0;
  std::string buffer(static_cast<std::size_t>(count), '\0');
  ssize_t n;
  do n = ::read(fd_, buffer.data(), buffer.size());
  while (n < 0 && errno == EINTR);
  ::fcntl(fd_, F_SETFL, flags);
  return n > 0 ? n : 0;
}

bool JobserverFifo::takeOne() const {
  char token;
  return ::read(fd_, &token, 1) == 1;
}

namespace {

// Whether process `pid` holds the file `device`/`inode` open. Vanished
// processes and other users' processes read as not holding it.
bool holds(int proc, pid_t pid, dev_t device, ino_t inode) {
  std::string fdFolder = std::to_string(pid) + "/fd";
  int fds = ::openat(proc, fdFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fds < 0) return false;
  DIR* open = ::fdopendir(fds);
  if (!open) {
    ::close(fds);
    return false;
  }
  bool found = false;
  while (auto* fd = ::readdir(open)) {
    struct stat st {};
    // Following the descriptor's link reaches the open file itself.
    if (fd->d_name[0] == '.' || ::fstatat(fds, fd->d_name, &st, 0) != 0) continue;
    if (st.st_dev == device && st.st_ino == inode) {
      found = true;
      break;
    }
  }
  ::closedir(open);
  return found;
}

}  // namespace

std::optional<std::vector<pid_t>> JobserverFifo::holders(const Roots& roots, pid_t self,
                                                         const std::vector<pid_t>* among) const {
  auto proc = openFolder(roots.proc);
  if (!proc.valid()) return std::nullopt;
  std::vector<pid_t> found;
  if (among) {
    for (pid_t pid : *among)
      if (pid != self && holds(proc.get(), pid, device_, inode_)) found.push_back(pid);
    return found;
  }
  int listFd = ::dup(proc.get());
  DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!list) {
    if (listFd >= 0) ::close(listFd);
    return std::nullopt;
  }
  while (auto* entry = ::readdir(list)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    if (holds(proc.get(), static_cast<pid_t>(pid), device_, inode_))
      found.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(list);
  return found;
}

bool JobserverFifo::returnAtExit(int64_t count, std::string& error) const {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    error = "cannot make a pipe: " + reason(errno);
    return false;
  }
  pid_t child = ::fork();
  if (child < 0) {
    error = "cannot start the token keeper: " + reason(errno);
    ::close(ends[0]);
    ::close(ends[1]);
    return false;
  }
  if (child == 0) {
    // The middle process exits at once, so the keeper is nobody's child the
    // build could wait for by mistake.
    if (::fork() != 0) ::_exit(0);
    ::close(ends[1]);
    // Ctrl-C reaches the whole foreground group; the tokens must still go back.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(sig, SIG_IGN);
    int null = ::open("/dev/null", O_RDWR);
    for (int stream : {0, 1, 2}) ::dup2(null, stream);
    char byte;
    while (::read(ends[0], &byte, 1) != 0 && (errno == EINTR || errno == EAGAIN)) {
    }
    std::string ignored;
    put(count, ignored);
    ::_exit(0);
  }
  ::close(ends[0]);
  int status = 0;
  // The middle process only forks and exits.
  for (int i = 0; i < 1000 && ::waitpid(child, &status, WNOHANG) == 0; ++i) ::usleep(1000);
  if (::fcntl(ends[1], F_SETFD, 0) != 0) {
    error = "cannot keep the pipe open: " + reason(errno);
    ::close(ends[1]);
    return false;
  }
  return true;
}

bool JobserverFifo::inheritable(std::string& error) const {
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      ::fcntl(fd_, F_SETFD, 0) != 0) {
    error = reason(errno);
    return false;
  }
  return true;
}

void interruptTake(std::thread& thread) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the blocked read returns EINTR
    return ::sigaction(SIGURG, &action, nullptr) == 0;
  }();
  if (installed) ::pthread_kill(thread.native_handle(), SIGURG);
}

}  // namespace norvo::platform
