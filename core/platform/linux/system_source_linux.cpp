// Linux counterparts of the machine-wide reads. Where Linux has no exact
// equivalent of a figure, the choice and its reason sit next to the read.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include "core/platform/linux/cgroup_parsers.hpp"
#include "core/platform/linux/proc_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/system_source.hpp"

namespace norvo::platform::system_source {

namespace fs = std::filesystem;
using text_file::readLine;
using text_file::readText;

namespace {

std::map<std::string, uint64_t, std::less<>> readMeminfo(const Roots& roots) {
  auto text = readText(roots.proc / "meminfo");
  if (!text) return {};
  return parse::meminfo(*text);
}

uint64_t field(const std::map<std::string, uint64_t, std::less<>>& m, std::string_view key) {
  auto it = m.find(key);
  return it == m.end() ? 0 : it->second;
}

// Physical cores behind a list of logical processors: hyper-threads of one
// core share (package, core id). Without topology files every logical
// processor counts as a core.
int64_t physicalCores(const Roots& roots, std::string_view cpuList) {
  std::set<std::pair<int64_t, int64_t>> cores;
  int64_t logical = 0;
  bool topologyComplete = true;
  size_t pos = 0;
  cpuList = text_file::trim(cpuList);
  while (pos <= cpuList.size() && !cpuList.empty()) {
    size_t end = cpuList.find(',', pos);
    if (end == std::string_view::npos) end = cpuList.size();
    auto part = cpuList.substr(pos, end - pos);
    auto dash = part.find('-');
    auto a = text_file::parseUnsigned(part.substr(0, dash));
    auto b = dash == std::string_view::npos ? a : text_file::parseUnsigned(part.substr(dash + 1));
    if (!a || !b || *b < *a || *b - *a > 4096) return 0;
    for (uint64_t cpu = *a; cpu <= *b; ++cpu) {
      ++logical;
      fs::path topo = roots.sys / "devices/system/cpu" / ("cpu" + std::to_string(cpu)) / "topology";
      auto pkg = text_file::readInt(topo / "physical_package_id");
      auto core = text_file::readInt(topo / "core_id");
      if (!pkg || !core) {
        topologyComplete = false;
      } else {
        cores.emplace(*pkg, *core);
      }
    }
    pos = end + 1;
  }
  return topologyComplete ? static_cast<int64_t>(cores.size()) : logical;
}

// File systems that are not storage a person would call a volume.
bool isPseudoFileSystem(std::string_view type) {
  static const std::set<std::string_view> pseudo = {
      "proc",     "sysfs",      "tmpfs",   "devtmpfs",        "devpts",      "cgroup",
      "cgroup2",  "securityfs", "debugfs", "tracefs",         "pstore",      "bpf",
      "configfs", "fusectl",    "mqueue",  "hugetlbfs",       "autofs",      "binfmt_misc",
      "efivarfs", "rpc_pipefs", "nsfs",    "ramfs",           "selinuxfs",   "overlay",
      "squashfs", "iso9660",    "nfsd",    "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs",
      "devfs",    "none"};
  return pseudo.count(type) > 0;
}

bool isNetworkFileSystem(std::string_view type) {
  static const std::set<std::string_view> network = {
      "nfs",        "nfs4",        "cifs",      "smb3",   "smbfs",    "ncpfs",
      "afs",        "ceph",        "glusterfs", "9p",     "virtiofs", "davfs",
      "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "lustre", "gpfs"};
  return network.count(type) > 0;
}

// macOS hides its system volumes from the listing; /boot and the EFI partition
// are Linux's counterpart, and container plumbing is not a volume either.
bool isHiddenMount(std::string_view path) {
  auto under = [&](std::string_view prefix) {
    return path == prefix ||
           (path.size() > prefix.size() && path.substr(0, prefix.size()) == prefix &&
            path[prefix.size()] == '/');
  };
  return under("/proc") || under("/sys") || under("/dev") || under("/boot") ||
         under("/var/lib/docker") || under("/var/lib/containers") || under("/snap");
}

}  // namespace

ProcessorTicks processorTicks(const Roots& roots) {
  auto text = readText(roots.proc / "stat");
  if (!text) return {};
  auto ticks = parse::procStatCpu(*text);
  if (!ticks) return {};
  return {ticks->busy, ticks->total};
}

double uptimeSeconds() {
  // Awake time only: CLOCK_MONOTONIC stops during suspend, so the first
  // interval after a resume is the time the machine actually ran, not the hours
  // it slept, and the rates over it are not diluted to nothing.
  timespec ts{};
  if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::optional<uint64_t> swapOuts(const Roots& roots) {
  auto text = readText(roots.proc / "vmstat");
  if (!text) return std::nullopt;
  return parse::vmstatField(*text, "pswpout");
}

int logicalCores(const Roots& roots) {
  if (auto online = readText(roots.sys / "devices/system/cpu/online")) {
    if (auto n = parse::cpuListCount(*online); n && *n > 0) return *n;
  }
  if (auto stat = readText(roots.proc / "stat")) {
    if (int n = parse::procStatCpuCount(*stat); n > 0) return n;
  }
  return 1;
}

PerformanceLevels performanceLevels(const Roots& roots) {
  // Hybrid Intel processors register two PMUs, cpu_core (performance) and
  // cpu_atom (efficiency), each listing its logical processors.
  PerformanceLevels levels;
  if (auto p = readText(roots.sys / "devices/cpu_core/cpus")) {
    if (int64_t n = physicalCores(roots, *p); n > 0) levels.performance = n;
  }
  if (auto e = readText(roots.sys / "devices/cpu_atom/cpus")) {
    if (int64_t n = physicalCores(roots, *e); n > 0) levels.efficiency = n;
  }
  if (levels.performance || levels.efficiency) return levels;
  // Elsewhere (ARM big.LITTLE and DynamIQ, Apple silicon) the scheduler's
  // cpu_capacity tells the kinds of core apart.
  auto online = readText(roots.sys / "devices/system/cpu/online");
  if (!online) return levels;
  std::map<int, uint64_t> capacities;
  for (int cpu : parse::cpuListMembers(*online)) {
    auto capacity = text_file::readInt(roots.sys / "devices/system/cpu" /
                                       ("cpu" + std::to_string(cpu)) / "cpu_capacity");
    if (!capacity || *capacity <= 0) return levels;
    capacities[cpu] = static_cast<uint64_t>(*capacity);
  }
  auto split = parse::splitByCapacity(capacities);
  if (!split) return levels;
  int64_t p = physicalCores(roots, split->performance);
  int64_t e = physicalCores(roots, split->efficiency);
  if (p > 0 && e > 0) {
    levels.performance = p;
    levels.efficiency = e;
  }
  return levels;
}

std::array<double, 3> loadAverages(const Roots& roots) {
  auto text = readText(roots.proc / "loadavg");
  if (!text) return {0, 0, 0};
  return parse::loadavg(*text).value_or(std::array<double, 3>{0, 0, 0});
}

uint64_t physicalMemory(const Roots& roots) { return field(readMeminfo(roots), "MemTotal"); }

std::optional<VmStatistics> vmStatistics(const Roots& roots) {
  auto text = readText(roots.proc / "meminfo");
  if (!text) return std::nullopt;
  auto figures = parse::memoryFigures(*text);
  if (!figures) return std::nullopt;
  VmStatistics v;
  // Linux reports no purgeable anonymous memory, so app memory is all of it.
  v.internalBytes = figures->appBytes;
  v.purgeableBytes = 0;
  v.externalBytes = figures->externalBytes;
  v.wiredBytes = figures->wiredBytes;
  // The compressor's counterparts: the zswap pool and zram devices.
  v.compressorBytes = figures->zswapBytes;
  std::error_code ec;
  for (fs::directory_iterator it(roots.sys / "block", ec), end; !ec && it != end;
       it.increment(ec)) {
    auto name = it->path().filename().string();
    if (name.rfind("zram", 0) != 0) continue;
    // mm_stat: orig_data_size compr_data_size mem_used_total …
    // (Documentation/admin-guide/blockdev/zram.rst)
    if (auto stat = readText(it->path() / "mm_stat")) {
      std::string_view s = *stat;
      size_t pos = 0;
      for (int i = 0; i < 2 && pos != std::string_view::npos; ++i) {
        pos = s.find_first_not_of(' ', pos);
        pos = s.find(' ', pos);
      }
      if (pos != std::string_view::npos) {
        auto start = s.find_first_not_of(' ', pos);
        auto stop = s.find_first_of(" \n", start);
        if (start != std::string_view::npos) {
          if (auto used = text_file::parseUnsigned(s.substr(start, stop - start)))
            v.compressorBytes += *used;
        }
      }
    }
  }
  return v;
}

std::optional<PressureLevel> memoryPressure(const Roots& roots) {
  if (auto text = readText(roots.proc / "pressure/memory")) {
    if (auto p = parse::psi(*text)) return parse::stallLevel(*p);
  }
  // Without PSI (kernels before 4.20, or psi=0), the share still available.
  auto m = readMeminfo(roots);
  if (!m.count("MemAvailable")) return std::nullopt;
  return parse::availableLevel(field(m, "MemAvailable"), field(m, "MemTotal"));
}

std::optional<SwapUsage> swapUsage(const Roots& roots) {
  auto m = readMeminfo(roots);
  if (!m.count("SwapTotal") || !m.count("SwapFree")) return std::nullopt;
  uint64_t total = field(m, "SwapTotal");
  uint64_t free = field(m, "SwapFree");
  return SwapUsage{free > total ? 0 : total - free, total};
}

ThermalLevel thermalLevel(const Roots& roots) {
  // The worst zone decides. Trip point types (Documentation/driver-api/thermal):
  // "passive" starts throttling (fair), "hot" warns (serious), "critical"
  // shuts the machine down (critical).
  std::error_code ec;
  bool anyReading = false;
  ThermalLevel worst = ThermalLevel::nominal;
  auto rank = [](ThermalLevel l) {
    switch (l) {
      case ThermalLevel::nominal: return 0;
      case ThermalLevel::fair: return 1;
      case ThermalLevel::serious: return 2;
      case ThermalLevel::critical: return 3;
      default: return -1;
    }
  };
  for (fs::directory_iterator it(roots.sys / "class/thermal", ec), end; !ec && it != end;
       it.increment(ec)) {
    auto name = it->path().filename().string();
    if (name.rfind("thermal_zone", 0) != 0) continue;
    auto temp = text_file::readInt(it->path() / "temp");
    if (!temp) continue;
    anyReading = true;
    for (int i = 0; i < 32; ++i) {
      auto type = readLine(it->path() / ("trip_point_" + std::to_string(i) + "_type"));
      if (!type) break;
      auto tripTemp =
          text_file::readInt(it->path() / ("trip_point_" + std::to_string(i) + "_temp"));
      if (!tripTemp || *tripTemp <= 0 || *temp < *tripTemp) continue;
      ThermalLevel reached = ThermalLevel::nominal;
      if (*type == "critical")
        reached = ThermalLevel::critical;
      else if (*type == "hot")
        reached = ThermalLevel::serious;
      else if (*type == "passive")
        reached = ThermalLevel::fair;
      if (rank(reached) > rank(worst)) worst = reached;
    }
  }
  return anyReading ? worst : ThermalLevel::unknown;
}

bool lowPowerMode(const Roots& roots) {
  // The firmware's platform profile, which power-profiles-daemon and
  // tuned also drive, then the daemon's saved choice for machines without one.
  if (auto profile = readLine(roots.sys / "firmware/acpi/platform_profile"))
    if (*profile == "low-power" || *profile == "quiet") return true;
  if (auto state = readText(roots.var / "lib/power-profiles-daemon/state.ini")) {
    for (std::string_view line : text_file::lines(*state))
      if (text_file::trim(line) == "Profile=power-saver") return true;
  }
  return false;
}

std::optional<MountedVolume> volumeAt(const std::string& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return std::nullopt;
  MountedVolume v;
  v.path = path;
  v.totalBytes = static_cast<int64_t>(vfs.f_blocks * vfs.f_frsize);
  v.availableBytes = static_cast<int64_t>(vfs.f_bavail * vfs.f_frsize);
  v.isReadOnly = (vfs.f_flag & ST_RDONLY) != 0;
  return v;
}

namespace {

// One volume read running on its own thread. A read stuck in the kernel (a
// dead FUSE server, a disk that stopped answering) cannot be cancelled; its
// thread is left behind and the tick goes on without that volume.
struct PendingRead {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::optional<MountedVolume> volume;
};

// Paths whose last read has not come back: not asked again until it does,
// so a stuck mount costs one thread, not one per tick.
std::mutex stuckLock;
std::set<std::string> stuckPaths;

}  // namespace

std::optional<std::vector<MountedVolume>> mountedVolumes(const Roots& roots,
                                                         const VolumeReader& read,
                                                         std::chrono::milliseconds deadline) {
  auto text = readText(roots.proc / "self/mountinfo");
  if (!text) return std::nullopt;
  auto entries = parse::mountinfo(*text);
  if (entries.empty()) return std::nullopt;

  // The type decides before anything touches the mount: statvfs on a dead
  // hard NFS mount never returns. Network volumes are not listed anyway.
  std::vector<const parse::MountEntry*> candidates;
  for (const auto& e : entries) {
    bool isRoot = e.mountPoint == "/";
    // "/" is always examined: containers mount an overlay there.
    if (!isRoot && (isPseudoFileSystem(e.fsType) || isHiddenMount(e.mountPoint) ||
                    isNetworkFileSystem(e.fsType)))
      continue;
    candidates.push_back(&e);
  }
  // Bind mounts repeat a file system already listed. The first writable
  // mount stands for it, so a read-only bind seen first (a sandbox's view of
  // /home) does not hide the volume itself.
  std::map<std::string, const parse::MountEntry*> chosen;
  for (const auto* e : candidates) {
    auto [it, inserted] = chosen.emplace(e->majorMinor, e);
    if (!inserted && it->second->readOnly && !e->readOnly) it->second = e;
  }
  std::vector<const parse::MountEntry*> kept;
  std::set<std::string> seenPaths;
  for (const auto* e : candidates)
    if (chosen[e->majorMinor] == e && seenPaths.insert(e->mountPoint).second) kept.push_back(e);

  auto until = std::chrono::steady_clock::now() + deadline;
  auto start = [&](const std::string& path) -> std::shared_ptr<PendingRead> {
    {
      std::lock_guard guard(stuckLock);
      if (!stuckPaths.insert(path).second) return nullptr;
    }
    auto pending = std::make_shared<PendingRead>();
    try {
      std::thread([pending, path, read] {
        std::optional<MountedVolume> v;
        try {
          v = read(path);
        } catch (...) {
        }
        {
          std::lock_guard guard(stuckLock);
          stuckPaths.erase(path);
        }
        std::lock_guard guard(pending->lock);
        pending->volume = std::move(v);
        pending->finished = true;
        pending->done.notify_all();
      }).detach();
    } catch (...) {  // no thread to be had: leave the volume out this tick
      std::lock_guard guard(stuckLock);
      stuckPaths.erase(path);
      return nullptr;
    }
    return pending;
  };
  auto collect = [&](const std::shared_ptr<PendingRead>& pending) -> std::optional<MountedVolume> {
    if (!pending) return std::nullopt;
    std::unique_lock guard(pending->lock);
    pending->done.wait_until(guard, until, [&] { return pending->finished; });
    if (!pending->finished) return std::nullopt;
    return pending->volume;
  };

  std::vector<std::shared_ptr<PendingRead>> reads;
  for (const auto* e : kept) reads.push_back(start(e->mountPoint));
  std::vector<MountedVolume> out;
  bool sawRoot = false;
  for (size_t i = 0; i < kept.size(); ++i) {
    auto v = collect(reads[i]);
    if (!v) continue;
    v->isLocal = true;
    v->isReadOnly = v->isReadOnly.value_or(false) || kept[i]->readOnly;
    sawRoot = sawRoot || kept[i]->mountPoint == "/";
    out.push_back(std::move(*v));
  }
  if (!sawRoot) {
    if (auto root = collect(start("/"))) {
      root->isLocal = true;
      out.insert(out.begin(), std::move(*root));
    }
  }
  return out;
}

std::optional<std::vector<MountedVolume>> mountedVolumes(const Roots& roots) {
  // A bind-mounted file (containers' /etc/hosts) is not a volume.
  auto read = [](const std::string& path) -> std::optional<MountedVolume> {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return volumeAt(path);
  };
  return mountedVolumes(roots, read, std::chrono::milliseconds(1500));
}

}  // namespace norvo::platform::system_source
