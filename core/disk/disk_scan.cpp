#include "core/disk/disk_scan.hpp"

#include <algorithm>
#include <chrono>
#include <deque>
#include <sstream>
#include <unordered_set>

#include "core/disk/disk_history.hpp"
#include "core/measure/system_metrics.hpp"
#include "core/platform/directory_reader.hpp"
#include "core/platform/disk_places.hpp"
#include "core/platform/platform_words.hpp"
#include "core/platform/system_source.hpp"

namespace norvo::DiskUsage {

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kKeepChild = kMiB;
constexpr size_t kMaxChildren = 300;
constexpr int64_t kBigFile = 200 * kMiB;
constexpr size_t kBigFilesTrimAt = 121;
constexpr size_t kBigFilesKept = 60;
constexpr int64_t kCheckEvery = 5000;
constexpr int64_t kRecentSeconds = 604800;
constexpr int64_t kGrowthMin = 500 * kMiB;
constexpr int kRecentKept = 12;
// Levels deeper than this give their folder's descriptor back while a child
// is walked, so no tree is too deep for the descriptor limit.
constexpr size_t kOpenLevels = 64;

using platform::DirectoryReader;
using platform::EntryStatus;
using platform::EntryType;
using platform::OpenOutcome;

// A folder open on the walk; its name is the end of the walker's path.
struct Frame {
  size_t pathLength = 0;
  int64_t bytes = 0;
  int64_t files = 0;
  int64_t recent = 0;
  std::vector<Node> children;
};

Node lockedNode(const std::string& path, Lock lock) {
  Node n;
  n.name = lastComponent(path);
  n.path = path;
  n.lock = lock;
  return n;
}

struct Walker {
  const Places& places;
  const Access& access;
  std::chrono::steady_clock::time_point deadline;
  Progress& progress;
  std::vector<std::string> protectedPaths;
  std::vector<BigFile> bigFiles{};
  std::vector<Node> skipped{};
  bool stopped = false;
  std::unordered_set<uint64_t> seenInodes{};
  int64_t totalBytes = 0;
  int64_t totalFiles = 0;
  int64_t recentCutoff = 0;
  int64_t entries = 0;

  std::deque<DirectoryReader> readers{};  // one per level, reused across folders
  std::vector<Frame> frames{};
  std::string path{};  // of the folder on top of the stack
  std::string rootName{};

  bool locked(const std::string& folder) const {
    for (const auto& p : protectedPaths)
      if (p == folder) return isLocked(folder, places, access);
    return false;
  }

  // Every 5,000th entry: tell the observer, then see whether to stop.
  bool checkpoint(std::string_view name) {
    if (++entries % kCheckEvery != 0) return false;
    std::string at = path == "/" ? "/" + std::string(name) : path + "/" + std::string(name);
    bool cancelled = progress.publish(totalBytes, totalFiles, at);
    if (cancelled || std::chrono::steady_clock::now() > deadline) stopped = true;
    return stopped;
  }

  Node close(Frame& f, std::string name) {
    Node n;
    n.name = std::move(name);
    n.path = path;
    n.bytes = f.bytes;
    n.files = f.files;
    n.recentBytes = f.recent;
    auto& kids = f.children;
    kids.erase(std::remove_if(kids.begin(), kids.end(),
                              [](const Node& c) { return c.bytes < kKeepChild && !c.lock; }),
               kids.end());
    std::stable_sort(kids.begin(), kids.end(),
                     [](const Node& a, const Node& b) { return a.bytes > b.bytes; });
    if (kids.size() > kMaxChildren) kids.resize(kMaxChildren);
    n.children = std::move(kids);
    return n;
  }

  // Pops the top frame into its parent; returns the node when it was the root.
  // A folder under 1 MiB only adds its counts: its parent would drop its node
  // anyway, and most folders are that small.
  std::optional<Node> pop() {
    Frame& f = frames.back();
    if (frames.size() == 1) {
      Node n = close(f, rootName);
      frames.pop_back();
      return n;
    }
    Frame& top = frames[frames.size() - 2];
    top.bytes += f.bytes;
    top.files += f.files;
    top.recent += f.recent;
    if (f.bytes >= kKeepChild) {
      size_t start = top.pathLength + (path[top.pathLength] == '/' ? 1 : 0);
      top.children.push_back(close(f, path.substr(start)));
    }
    frames.pop_back();
    path.resize(top.pathLength);
    return std::nullopt;
  }

  void refuse(const std::string& folder, Lock lock) {
    Node n = lockedNode(folder, lock);
    skipped.push_back(n);
    if (!frames.empty()) frames.back().children.push_back(std::move(n));
  }

  void countFile(const EntryStatus& st, std::string_view name) {
    if (st.links > 1 && !seenInodes.insert(st.inode ^ (st.device << 40)).second) return;
    int64_t size = st.allocatedBytes;
    totalBytes += size;
    ++totalFiles;
    Frame& top = frames.back();
    top.bytes += size;
    ++top.files;
    if (std::max(st.modified, st.created) >= recentCutoff) top.recent += size;
    if (size >= kBigFile && st.type == EntryType::file) {
      std::string full = path == "/" ? "/" + std::string(name) : path + "/" + std::string(name);
      bigFiles.push_back(
          {std::move(full), size, std::chrono::system_clock::from_time_t(st.modified)});
      if (bigFiles.size() >= kBigFilesTrimAt) trimBigFiles();
    }
  }

  void trimBigFiles() {
    std::stable_sort(bigFiles.begin(), bigFiles.end(),
                     [](const BigFile& a, const BigFile& b) { return a.bytes > b.bytes; });
    if (bigFiles.size() > kBigFilesKept) bigFiles.resize(kBigFilesKept);
  }

  std::optional<Node> walk(const std::string& root) {
    if (stopped) return std::nullopt;
    if (std::chrono::steady_clock::now() > deadline) {
      stopped = true;
      return std::nullopt;
    }
    if (readers.empty()) readers.emplace_back();
    EntryStatus rootStatus;
    if (readers[0].openPath(root, rootStatus) != OpenOutcome::opened) return std::nullopt;
    const uint64_t device = rootStatus.device;
    path = root.size() > 1 && root.back() == '/' ? root.substr(0, root.find_last_not_of('/') + 1)
                                                 : root;
    frames.clear();
    rootName = root;
    frames.push_back({path.size(), rootStatus.allocatedBytes, 0, 0, {}});
    totalBytes += rootStatus.allocatedBytes;
    ++entries;
    size_t depth = 0;
    std::optional<Node> result;
    std::string_view name;
    while (!result) {
      DirectoryReader& reader = readers[depth];
      if (!reader.next(name)) {
        if (depth > 0 && readers[depth - 1].suspended()) readers[depth - 1].resume(reader);
        reader.close();
        result = pop();
        if (depth > 0) --depth;
        continue;
      }
      if (checkpoint(name)) break;
      EntryStatus st;
      if (!reader.status(name.data(), st)) continue;  // vanished since the listing
      if (st.type != EntryType::folder) {
        countFile(st, name);
        continue;
      }
      if (st.device != device) continue;  // another file system mounted here
      size_t base = path.size();
      if (path != "/") path += '/';
      path.append(name);
      if (locked(path)) {
        refuse(path, Lock::privacy);
        path.resize(base);
        continue;
      }
      if (readers.size() <= depth + 1) readers.emplace_back();
      OpenOutcome opened = readers[depth + 1].openChild(reader, name.data(), st);
      if (opened != OpenOutcome::opened) {
        if (opened == OpenOutcome::denied) refuse(path, Lock::noAccess);
        path.resize(base);
        continue;
      }
      if (depth + 1 >= kOpenLevels) reader.suspend();
      frames.push_back({path.size(), st.allocatedBytes, 0, 0, {}});
      totalBytes += st.allocatedBytes;
      ++depth;
    }
    // Stopped early: close what is open from the top down, so the tree holds
    // exactly what was counted.
    while (!result) {
      readers[depth].close();
      result = pop();
      if (depth > 0) --depth;
    }
    for (size_t i = 0; i < readers.size(); ++i) readers[i].close();
    return result;
  }
};

bool keepSkipped(const Node& n, const Places& places) {
  if (n.lock == Lock::privacy) return true;
  if (n.path == places.trash) return true;
  const std::string suffix = ".photoslibrary";
  if (n.path.size() >= suffix.size() &&
      n.path.compare(n.path.size() - suffix.size(), suffix.size(), suffix) == 0)
    return true;
  return parentFolder(n.path) == places.home;
}

std::vector<std::string> growthContainers(const Places& p) {
  std::vector<std::string> out{p.home, p.caches, p.appData, p.appConfig, p.library};
  for (const auto& a : p.appFolders) out.push_back(a);
  return out;
}

struct Growth {
  const std::optional<std::map<std::string, int64_t>>& old;
  int64_t min;
  const Places& places;
  std::vector<std::string> containers;
  std::vector<Change> out;

  int64_t growth(const Node& n) const {
    if (n.lock) return 0;
    if (!old) return n.recentBytes;
    auto it = old->find(n.path);
    return n.bytes - (it == old->end() ? 0 : it->second);
  }

  void apply(const Node& node) {
    int64_t g = growth(node);
    if (g < min) return;
    std::vector<const Node*> candidates;
    int64_t sum = 0;
    bool anyFull = false;
    for (const auto& c : node.children) {
      int64_t cg = growth(c);
      if (cg < min / 2) continue;
      candidates.push_back(&c);
      sum += cg;
      anyFull = anyFull || cg >= min;
    }
    bool container = std::find(containers.begin(), containers.end(), node.path) != containers.end();
    if (!container) {
      auto what = kind(node.path, places).what;
      if (what != "Your files" && what != "Settings and system data of your account") {
        out.push_back({node.path, node.name, g});
        return;
      }
    }
    if (sum * 10 >= g * 6 && anyFull) {
      for (const Node* c : candidates)
        if (growth(*c) >= min) apply(*c);
      return;
    }
    out.push_back({node.path, node.name, g});
  }
};

std::vector<std::string> startupRoots(const Places& places) {
  std::vector<std::string> roots{places.home};
  for (const auto& folder : places.appFolders) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) roots.push_back(folder);
  }
  return roots;
}

// "~/Desktop"-style values of user-dirs.dirs: "$HOME/…" or an absolute path.
std::optional<std::string> userDir(const std::string& text, const std::string& key,
                                   const std::string& home) {
  std::istringstream lines(text);
  std::string line;
  std::optional<std::string> found;
  while (std::getline(lines, line)) {
    auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(start + key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      value = home + value.substr(5);
    } else if (value.empty() || value.front() != '/') {
      continue;
    }
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    // The home folder itself means "no such folder" by XDG's convention.
    found = value == home ? std::nullopt : std::optional<std::string>(value);
  }
  return found;
}

}  // namespace

int64_t Progress::bytes() const {
  std::lock_guard g(lock_);
  return bytes_;
}
int64_t Progress::files() const {
  std::lock_guard g(lock_);
  return files_;
}
std::string Progress::path() const {
  std::lock_guard g(lock_);
  return path_;
}
bool Progress::cancelled() const {
  std::lock_guard g(lock_);
  return cancelled_;
}
void Progress::cancel() {
  std::lock_guard g(lock_);
  cancelled_ = true;
}
bool Progress::publish(int64_t bytes, int64_t files, const std::string& path) {
  std::lock_guard g(lock_);
  bytes_ = bytes;
  files_ = files;
  path_ = path;
  return cancelled_;
}

std::vector<std::string> protectedFolders(const Places& places) {
  std::vector<std::string> out{places.desktop, places.documents, places.downloads,
                               places.containers};
  for (const auto& c : places.cloud) out.push_back(c);
  return out;
}

bool isLocked(const std::string& path, const Places& places, const Access& access) {
  auto all = protectedFolders(places);
  if (std::find(all.begin(), all.end(), path) == all.end()) return false;
  if (access.allowed.contains(path)) return false;
  // Cloud folders hold files that live elsewhere: walking them may download
  // them, so only a grant for that very folder opens one.
  if (std::find(places.cloud.begin(), places.cloud.end(), path) != places.cloud.end()) return true;
  if (access.fullDiskAccess) return false;
  if (access.userFolders)
    return path != places.desktop && path != places.documents && path != places.downloads;
  return true;
}

std::optional<Volume> volumeOf(const std::string& path, const std::vector<Volume>& volumes) {
  const Volume* best = nullptr;
  for (const auto& v : volumes) {
    if (v.isStartup) continue;
    if (v.path != path && path.rfind(v.path + "/", 0) != 0) continue;
    if (!best || v.path.size() > best->path.size()) best = &v;
  }
  if (best) return *best;
  for (const auto& v : volumes)
    if (v.isStartup) return v;
  return std::nullopt;
}

std::vector<Change> changes(const Node& root,
                            const std::optional<std::map<std::string, int64_t>>& old, int64_t min,
                            int limit, const Places& places) {
  Growth g{old, min, places, growthContainers(places), {}};
  for (const auto& c : root.children) g.apply(c);
  std::stable_sort(g.out.begin(), g.out.end(),
                   [](const Change& a, const Change& b) { return a.bytes > b.bytes; });
  if (limit >= 0 && g.out.size() > static_cast<size_t>(limit)) g.out.resize(limit);
  return g.out;
}

Report scan(const std::optional<std::string>& path, const std::optional<Volume>& volume,
            const Access& access, double deadline, Progress& progress, const ScanSetup& setup) {
  auto startSteady = std::chrono::steady_clock::now();
  auto startWall = std::chrono::system_clock::now();
  const Places& places = setup.places;

  Volume vol;
  if (volume) {
    vol = *volume;
  } else {
    std::optional<Volume> found;
    if (path) found = volumeOf(*path, setup.volumes);
    if (!found)
      for (const auto& v : setup.volumes)
        if (v.isStartup) {
          found = v;
          break;
        }
    vol = found.value_or(
        Volume{"/", std::string(platform::machineNoun().english), 0, 0, 0, true, true, ""});
  }

  std::vector<std::string> roots;
  if (path) {
    roots = {*path};
  } else if (vol.isStartup) {
    roots = startupRoots(places);
  } else {
    roots = {vol.path};
  }

  Walker w{
      .places = places,
      .access = access,
      .deadline = startSteady + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(std::max(0.0, deadline))),
      .progress = progress,
      .protectedPaths = protectedFolders(places),
      .recentCutoff = std::chrono::system_clock::to_time_t(startWall) - kRecentSeconds};
  std::vector<Node> walked;
  for (const auto& r : roots)
    if (auto n = w.walk(r)) walked.push_back(std::move(*n));

  Report report;
  report.volume = vol;
  if (path) {
    if (!walked.empty()) {
      report.root = std::move(walked.front());
    } else {
      report.root = lockedNode(*path, Lock::noAccess);
      report.root.name = lastComponent(*path);
    }
  } else {
    Node root;
    root.children = std::move(walked);
    int64_t counted = 0;
    for (const auto& c : root.children) counted += c.bytes;
    if (vol.isStartup && vol.usedBytes() - counted > 0) {
      Node rest;
      rest.name = platform::diskWords().systemNode;
      rest.path = "/System";
      rest.bytes = vol.usedBytes() - counted;
      rest.isFolder = false;
      root.children.push_back(std::move(rest));
    }
    std::stable_sort(root.children.begin(), root.children.end(),
                     [](const Node& a, const Node& b) { return a.bytes > b.bytes; });
    root.name = vol.name;
    root.path = vol.path;
    for (const auto& c : root.children) {
      root.bytes += c.bytes;
      root.files += c.files;
      root.recentBytes += c.recentBytes;
    }
    report.root = std::move(root);
  }

  w.trimBigFiles();
  report.bigFiles = std::move(w.bigFiles);
  for (auto& n : w.skipped)
    if (keepSkipped(n, places)) report.skipped.push_back(std::move(n));
  report.fullDiskAccess = access.fullDiskAccess;
  report.date = std::chrono::system_clock::now();
  report.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - startSteady).count();
  report.complete = !w.stopped;
  report.accessKey = access.key();
  report.advice = advise(report, places, 30);

  if (path) {
    report.recent = changes(report.root, std::nullopt, kGrowthMin, kRecentKept, places);
  } else {
    std::optional<DiskHistory::Snapshot> baseline;
    if (setup.historyDir)
      baseline = DiskHistory::baseline(*setup.historyDir, vol.path, report.accessKey, report.date);
    std::optional<std::map<std::string, int64_t>> old;
    if (baseline) {
      old = baseline->sizes;
      report.recentSince = baseline->date;
    }
    report.recent = changes(report.root, old, kGrowthMin, kRecentKept, places);
    if (report.complete && setup.historyDir)
      DiskHistory::recordSnapshot(*setup.historyDir, report, report.date);
  }
  return report;
}

std::vector<Volume> volumes(const platform::Roots& roots) {
  std::vector<Volume> out;
  auto mounted = platform::system_source::mountedVolumes(roots);
  if (!mounted) return out;
  auto details = platform::volumeDetails(roots);
  for (const auto& m : SystemMetrics::keepVolumes(*mounted)) {
    Volume v;
    v.path = m.path;
    v.name = m.name;
    v.totalBytes = m.totalBytes;
    v.freeBytes = m.freeBytes;
    v.isStartup = m.path == "/";
    for (const auto& d : details)
      if (d.path == m.path) {
        v.format = d.format;
        v.isInternal = d.isInternal;
      }
    out.push_back(std::move(v));
  }
  std::stable_sort(out.begin(), out.end(), [](const Volume& a, const Volume& b) {
    if (a.isStartup != b.isStartup) return a.isStartup;
    return a.name < b.name;
  });
  return out;
}

Places placesFor(const platform::Roots& roots) {
  std::string home = roots.home.string();
  Places p = Places::standard(home);
  auto sources = platform::userFolderSources(roots);
  auto absolute = [](const std::optional<std::string>& v) {
    return v && !v->empty() && v->front() == '/';
  };
  if (absolute(sources.cacheHome)) p.caches = *sources.cacheHome;
  if (absolute(sources.dataHome)) {
    p.appData = *sources.dataHome;
    p.trash = p.appData + "/Trash";
  }
  if (absolute(sources.configHome)) p.appConfig = *sources.configHome;
  return sources.userDirs ? withUserDirs(std::move(p), *sources.userDirs) : p;
}

Places withUserDirs(Places p, const std::string& userDirs) {
  if (auto d = userDir(userDirs, "XDG_DESKTOP_DIR", p.home)) p.desktop = *d;
  if (auto d = userDir(userDirs, "XDG_DOCUMENTS_DIR", p.home)) p.documents = *d;
  if (auto d = userDir(userDirs, "XDG_DOWNLOAD_DIR", p.home)) p.downloads = *d;
  return p;
}

}  // namespace norvo::DiskUsage
