// The process table's reads on Linux, from /proc. The files read every tick
// (stat, and statm or status for memory) are kept open per process and read
// again from offset 0 (procfs regenerates them on each read); opening and
// closing them costs more than reading them, and a kept descriptor stays bound
// to its process, so a reused pid can never be read through it. Other files
// are opened relative to one descriptor of the /proc root.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "core/platform/linux/app_bundle_parsers.hpp"
#include "core/platform/linux/proc_parsers.hpp"
#include "core/platform/linux/process_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/platform_words.hpp"
#include "core/platform/process_source.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

namespace {

// Reads at most `maxBytes` of `relative` under `dirFd`. Absent on any failure.
std::optional<std::string> readAt(int dirFd, const std::string& relative, size_t maxBytes) {
  int fd = ::openat(dirFd, relative.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  out.resize(std::min<size_t>(maxBytes, 4096));
  size_t used = 0;
  for (;;) {
    if (used == out.size()) {
      if (out.size() >= maxBytes) break;
      out.resize(std::min(maxBytes, out.size() * 2));
    }
    ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  out.resize(used);
  return out;
}

// Reads from offset 0 of a kept descriptor; absent on failure, which for a
// process that exited is ESRCH or an empty read.
std::optional<std::string> readFromStart(int fd, size_t maxBytes) {
  std::string out(maxBytes, '\0');
  size_t used = 0;
  while (used < maxBytes) {
    ssize_t n = ::pread(fd, out.data() + used, maxBytes - used, static_cast<off_t>(used));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  if (used == 0) return std::nullopt;
  out.resize(used);
  return out;
}

// The kept files of one process; closed when the last reader lets go, so a
// worker still reading never sees its descriptor closed and reused.
struct KeptFiles {
  int stat = -1;
  int statm = -1;
  int status = -1;
  uint32_t owner = 0;
  KeptFiles() = default;
  KeptFiles(const KeptFiles&) = delete;
  KeptFiles& operator=(const KeptFiles&) = delete;
  ~KeptFiles() {
    for (int fd : {stat, statm, status})
      if (fd >= 0) ::close(fd);
  }
};

// Three descriptors per process for a few thousand processes need more than
// the customary soft limit of 1024. The soft limit is raised to the hard one,
// as systemd advises for programs that do not use select(2); a quarter of it
// is left to the rest of the program, and processes beyond the budget are
// read by opening their files each time.
size_t keptProcessBudget() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? 1u << 20 : limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return 1u << 18;
  return static_cast<size_t>(limit.rlim_cur) / 4;
}

class LinuxProcessSource final : public ProcessSource {
 public:
  explicit LinuxProcessSource(const Roots& roots)
      : roots_(roots),
        procFd_(::open(roots.proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        me_(::getuid()) {
    long ticks = ::sysconf(_SC_CLK_TCK);
    ticksPerSecond_ = ticks > 0 ? static_cast<uint64_t>(ticks) : 100;
    // btime is rounded and follows clock adjustments; the boot id and the start
    // tick count do neither, so keys built on them last the whole boot.
    if (auto id = text_file::readLine(roots.proc / "sys/kernel/random/boot_id")) bootId_ = *id;
    applicationDirs_ = applicationDirs();
    keptBudget_ = keptProcessBudget();
    long page = ::sysconf(_SC_PAGESIZE);
    pageSize_ = page > 0 ? static_cast<uint64_t>(page) : 4096;
  }

  ~LinuxProcessSource() override {
    if (procFd_ >= 0) ::close(procFd_);
  }

  LinuxProcessSource(const LinuxProcessSource&) = delete;
  LinuxProcessSource& operator=(const LinuxProcessSource&) = delete;

  std::vector<int32_t> allPids() const override {
    std::vector<int32_t> pids;
    DIR* dir = ::opendir(roots_.proc.c_str());
    if (!dir) return pids;
    while (const dirent* entry = ::readdir(dir)) {
      auto pid = text_file::parseSigned(entry->d_name);
      if (pid && *pid > 0 && *pid <= INT32_MAX) pids.push_back(static_cast<int32_t>(*pid));
    }
    ::closedir(dir);
    // Let go of the files of processes that are no longer listed.
    std::unordered_set<int32_t> listed(pids.begin(), pids.end());
    std::lock_guard lock(keptLock_);
    for (auto it = kept_.begin(); it != kept_.end();)
      it = listed.count(it->first) ? std::next(it) : kept_.erase(it);
    return pids;
  }

  std::optional<ProcessBasics> basics(int32_t pid) const override {
    // The owner of a process's /proc files is its effective user (proc(5));
    // a process that made itself non-dumpable shows as root, as procps also
    // sees it. Reading /proc/<pid>/status for the real uid would double the
    // cost of the cheap pass.
    uint32_t owner = 0;
    std::optional<std::string> text;
    if (auto files = keptFiles(pid)) {
      text = readFromStart(files->stat, 1024);
      // Asked afresh every time: procfs computes the owner at stat time, and
      // a process that dropped privileges since we opened its file must not
      // keep counting as the user it started as.
      struct stat st {};
      owner = ::fstat(files->stat, &st) == 0 ? st.st_uid : files->owner;
      if (!text) forget(pid);  // exited; a new process may have its pid
    }
    if (!text) text = readAndKeep(pid, owner);
    if (!text) return std::nullopt;
    auto stat = parse::pidStat(*text);
    if (!stat || stat->pid != pid) return std::nullopt;
    ProcessBasics out;
    out.cpuNanos = (stat->utimeTicks + stat->stimeTicks) * (1'000'000'000 / ticksPerSecond_);
    out.pid = pid;
    out.ppid = stat->ppid;
    out.uid = owner;
    out.command = std::move(stat->command);
    out.state = stat->state;
    out.startTime = stat->startTicks;
    out.bootId = bootId_;
    return out;
  }

  ProcessCommandLine commandLine(int32_t pid) const override {
    ProcessCommandLine out;
    std::string dir = std::to_string(pid);
    out.executable = linkAt(dir + "/exe");
    // An executable replaced by an upgrade keeps running from its old inode;
    // the path it was started from is still the one to show.
    static constexpr std::string_view deleted = " (deleted)";
    if (out.executable.size() > deleted.size() &&
        std::string_view(out.executable).substr(out.executable.size() - deleted.size()) == deleted)
      out.executable.resize(out.executable.size() - deleted.size());
    out.path = out.executable;
    // 400 characters are at most 1600 bytes of UTF-8; reading a little more
    // tells whether the cut is needed without copying a huge command line.
    if (auto cmdline = readAt(procFd_, dir + "/cmdline", 1700)) {
      out.arguments = parse::commandLineArguments(*cmdline);
      if (auto started = startedPath(dir, *cmdline, out.executable)) out.path = std::move(*started);
    }
    if (auto cgroup = readAt(procFd_, dir + "/cgroup", 16 * 1024)) {
      if (auto id = parse::appIdFromCgroup(*cgroup)) out.appEntry = desktopEntry(*id);
    }
    // Started from a terminal, a script or an older launcher, an app runs in
    // no unit of its own; its program still says which entry it is.
    if (!out.appEntry && !out.path.empty()) out.appEntry = entryStarting(out.path, out.executable);
    return out;
  }

  // The CPU time is in the stat record the cheap read has just read.
  ProcessUsage usage(int32_t pid, std::optional<uint64_t> cheapCpuNanos) const override {
    ProcessUsage out;
    std::string dir = std::to_string(pid);
    out.cpuNanos = cheapCpuNanos;
    if (!out.cpuNanos) {
      if (auto text = readAt(procFd_, dir + "/stat", 1024)) {
        if (auto stat = parse::pidStat(*text))
          out.cpuNanos = (stat->utimeTicks + stat->stimeTicks) * (1'000'000'000 / ticksPerSecond_);
      }
    }
    auto files = keptFiles(pid);
    if (!swapInUse()) {
      std::optional<std::string> statm;
      if (files && files->statm >= 0) {
        statm = readFromStart(files->statm, 256);
      } else {
        statm = readAt(procFd_, dir + "/statm", 256);
      }
      if (statm) {
        out.footprintBytes = parse::statmFootprint(*statm, pageSize_);
        return out;
      }
    }
    std::optional<std::string> status;
    if (files && files->status >= 0) {
      status = readFromStart(files->status, 8192);
    } else {
      status = readAt(procFd_, dir + "/status", 8192);
    }
    if (status) out.footprintBytes = parse::statusFootprint(*status);
    return out;
  }

  // Linux has no process responsible for another in the sense of an app that
  // launched a helper; the app unit in the cgroup (commandLine) stands in for
  // the grouping that the responsible process gives elsewhere.
  std::optional<int32_t> responsiblePid(int32_t) const override { return std::nullopt; }

  std::optional<std::string> bundleIdentifier(const std::string& bundlePath) const override {
    for (const char* list : {"/Contents/Info.plist", "/Info.plist"}) {
      auto text = text_file::readText(bundlePath + list, 1u << 20);
      if (!text) continue;
      if (auto id = parse::plistString(*text, "CFBundleIdentifier")) return id;
    }
    return std::nullopt;
  }

  std::optional<std::string> appName(const std::string& bundlePath) const override {
    if (bundlePath.ends_with(".desktop")) {
      std::lock_guard lock(entriesLock_);
      if (auto it = names_.find(bundlePath); it != names_.end()) return it->second;
      std::optional<std::string> name;
      if (auto text = text_file::readText(bundlePath, 64 * 1024))
        if (auto entry = parse::desktopEntry(*text)) name = entry->name;
      if (names_.size() > 2000) names_.clear();
      names_.emplace(bundlePath, name);
      return name;
    }
    if (emulatorFolder(bundlePath + "/emulator") == bundlePath) return std::string(emulatorName());
    return std::nullopt;
  }

  uint32_t currentUid() const override { return me_; }

 private:
  std::string linkAt(const std::string& relative) const {
    char buffer[4096];
    ssize_t n = ::readlinkat(procFd_, relative.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<size_t>(n));
  }

  // The name and folder a program was started under are the owner's: the
  // resolved file of a virtualenv's bin/python is the system's interpreter,
  // and a versioned install behind a link is named by its version.
  std::optional<std::string> startedPath(const std::string& dir, std::string_view cmdline,
                                         std::string_view executable) const {
    auto comm = readAt(procFd_, dir + "/comm", 64);
    if (!comm) return std::nullopt;
    std::string cwd = linkAt(dir + "/cwd");
    std::string pathList = "/bin:/usr/bin";  // execvp's search without PATH
    if (cmdline.substr(0, cmdline.find('\0')).find('/') == std::string_view::npos) {
      if (auto env = readAt(procFd_, dir + "/environ", 128 * 1024))
        if (auto value = parse::environValue(*env, "PATH")) pathList = *value;
    }
    auto resolve = [](const std::string& candidate) -> std::optional<std::string> {
      if (::access(candidate.c_str(), X_OK) != 0) return std::nullopt;
      std::error_code ec;
      auto target = std::filesystem::canonical(candidate, ec);
      if (ec) return std::nullopt;
      return target.string();
    };
    return parse::startedPath({cmdline, text_file::trim(*comm), cwd, pathList, executable},
                              resolve);
  }

  // Swapped-out memory is only in status; without swap in use statm tells the
  // same. Asked of /proc/meminfo at most once a second, not per process.
  bool swapInUse() const {
    auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(swapLock_);
    if (swapCheckedAt_ && now - *swapCheckedAt_ < std::chrono::seconds(1)) return swapInUse_;
    swapCheckedAt_ = now;
    swapInUse_ = true;  // the exact read, when meminfo cannot tell
    if (auto text = text_file::readText(roots_.proc / "meminfo")) {
      auto info = parse::meminfo(*text);
      auto total = info.find("SwapTotal"), free = info.find("SwapFree");
      if (total != info.end() && free != info.end()) swapInUse_ = total->second > free->second;
    }
    return swapInUse_;
  }

  std::shared_ptr<KeptFiles> keptFiles(int32_t pid) const {
    std::lock_guard lock(keptLock_);
    auto it = kept_.find(pid);
    return it == kept_.end() ? nullptr : it->second;
  }

  void forget(int32_t pid) const {
    std::lock_guard lock(keptLock_);
    kept_.erase(pid);
  }

  // Opens the process's stat (and its memory files) afresh, reads stat, and
  // keeps them open while the budget allows. The owner comes from the opened file, so it
  // belongs to the same process as the record.
  std::optional<std::string> readAndKeep(int32_t pid, uint32_t& owner) const {
    auto files = std::make_shared<KeptFiles>();
    std::string dir = std::to_string(pid);
    files->stat = ::openat(procFd_, (dir + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (files->stat < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(files->stat, &st) != 0) return std::nullopt;
    owner = files->owner = st.st_uid;
    auto text = readFromStart(files->stat, 1024);
    if (!text) return std::nullopt;
    std::lock_guard lock(keptLock_);
    if (kept_.size() < keptBudget_) {
      files->statm = ::openat(procFd_, (dir + "/statm").c_str(), O_RDONLY | O_CLOEXEC);
      files->status = ::openat(procFd_, (dir + "/status").c_str(), O_RDONLY | O_CLOEXEC);
      kept_[pid] = std::move(files);
    }
    return text;
  }

  // Where desktop entries live (XDG Base Directory and Desktop Entry
  // specifications), plus the Flatpak exports that sessions add to the list.
  std::vector<fs::path> applicationDirs() const {
    std::vector<fs::path> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') dirs.push_back(fs::path(dataHome) / "applications");
    if (!roots_.home.empty()) {
      dirs.push_back(roots_.home / ".local/share/applications");
      dirs.push_back(roots_.home / ".local/share/flatpak/exports/share/applications");
    }
    dirs.push_back(roots_.var / "lib/flatpak/exports/share/applications");
    std::string dataDirs = std::getenv("XDG_DATA_DIRS") ? std::getenv("XDG_DATA_DIRS") : "";
    if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
    size_t pos = 0;
    while (pos <= dataDirs.size()) {
      size_t end = dataDirs.find(':', pos);
      if (end == std::string::npos) end = dataDirs.size();
      std::string dir = dataDirs.substr(pos, end - pos);
      if (!dir.empty() && dir[0] == '/') dirs.push_back(fs::path(dir) / "applications");
      pos = end + 1;
    }
    return dirs;
  }

  // The desktop entry "<id>.desktop" of an application id, memoised: a
  // session runs a handful of apps, each with many processes.
  std::optional<std::string> desktopEntry(const std::string& id) const {
    if (id.find('/') != std::string::npos || id == "." || id == "..") return std::nullopt;
    {
      std::lock_guard lock(entriesLock_);
      if (auto it = entries_.find(id); it != entries_.end()) return it->second;
    }
    std::optional<std::string> found;
    for (const auto& dir : applicationDirs_) {
      std::error_code ec;
      fs::path candidate = dir / (id + ".desktop");
      if (fs::is_regular_file(candidate, ec)) {
        found = candidate.string();
        break;
      }
    }
    std::lock_guard lock(entriesLock_);
    if (entries_.size() > 2000) entries_.clear();
    entries_.emplace(id, found);
    return found;
  }

  // The programs that the owner's visible desktop entries start, by path as
  // written in "Exec" and as resolved, so that a program found through a
  // link matches too. Launchers and interpreters are left out: "sh -c …" or
  // "python3 app.py" would claim every shell or script of the owner.
  // Rebuilt every few minutes, so that an app installed meanwhile is found.
  std::optional<std::string> entryStarting(const std::string& path,
                                           const std::string& executable) const {
    static constexpr auto rebuildAfter = std::chrono::minutes(5);
    auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(entriesLock_);
    if (!programsBuiltAt_ || now - *programsBuiltAt_ > rebuildAfter) {
      programsBuiltAt_ = now;
      programs_.clear();
      // Earlier folders take precedence, as for desktop file ids.
      for (const auto& dir : applicationDirs_) indexEntries(dir);
    }
    for (const auto* candidate : {&path, &executable}) {
      if (auto it = programs_.find(*candidate); it != programs_.end()) return it->second;
    }
    return std::nullopt;
  }

  // Adds the entries of one folder; called under entriesLock_.
  void indexEntries(const fs::path& dir) const {
    static const std::unordered_set<std::string> launchers = {
        "sh",   "bash", "dash",   "zsh",  "env",        "flatpak",    "snap",     "xdg-open",
        "gio",  "perl", "ruby",   "java", "node",       "gjs",        "electron", "wine",
        "mono", "lua",  "pkexec", "sudo", "gtk-launch", "kioclient5", "kde-open5"};
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const auto& file = it->path();
      if (file.extension() != ".desktop") continue;
      auto text = text_file::readText(file, 64 * 1024);
      auto entry = text ? parse::desktopEntry(*text) : std::nullopt;
      if (!entry || entry->hidden || entry->type != "Application" || !entry->exec) continue;
      auto program = parse::execProgram(*entry->exec);
      if (!program) continue;
      auto name = fs::path(*program).filename().string();
      if (launchers.count(name) || name.starts_with("python")) continue;
      std::vector<std::string> keys;
      if (program->find('/') != std::string::npos) {
        keys.push_back(*program);
      } else {
        for (const char* bin : {"/usr/local/bin/", "/usr/bin/", "/bin/"}) {
          std::error_code exists;
          if (fs::exists(bin + *program, exists)) {
            keys.push_back(bin + *program);
            break;
          }
        }
      }
      if (keys.empty()) continue;
      std::error_code resolved;
      auto target = fs::canonical(keys.front(), resolved);
      if (!resolved && target != keys.front()) keys.push_back(target.string());
      for (auto& key : keys) programs_.emplace(std::move(key), file.string());
    }
  }

  Roots roots_;
  int procFd_ = -1;
  uint32_t me_ = 0;
  uint64_t ticksPerSecond_ = 100;
  std::string bootId_;
  std::vector<fs::path> applicationDirs_;
  size_t keptBudget_ = 0;
  uint64_t pageSize_ = 4096;
  mutable std::mutex swapLock_;
  mutable std::optional<std::chrono::steady_clock::time_point> swapCheckedAt_;
  mutable bool swapInUse_ = true;
  mutable std::mutex keptLock_;
  mutable std::unordered_map<int32_t, std::shared_ptr<KeptFiles>> kept_;
  mutable std::mutex entriesLock_;
  mutable std::unordered_map<std::string, std::optional<std::string>> entries_;
  mutable std::unordered_map<std::string, std::optional<std::string>> names_;
  mutable std::unordered_map<std::string, std::string> programs_;
  mutable std::optional<std::chrono::steady_clock::time_point> programsBuiltAt_;
};

}  // namespace

std::shared_ptr<ProcessSource> makeProcessSource(const Roots& roots) {
  return std::make_shared<LinuxProcessSource>(roots);
}

}  // namespace norvo::platform
