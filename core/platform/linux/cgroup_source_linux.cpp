// The limits a container, a CI runner or a systemd slice puts on this process.
// A group's limit binds everything below it, so each limit is the tightest one
// on the way from this process's group up to the mount root. Anything odd in
// these files reads as "no limit": the host figures are then the safe answer.
#include <cmath>
#include <filesystem>
#include <vector>

#include "core/platform/linux/cgroup_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/system_source.hpp"

namespace norvo::platform::system_source {

namespace fs = std::filesystem;
using text_file::readText;

namespace {

// Deep enough for any real nesting; a looping or hostile tree stops here.
constexpr int kMaxDepth = 64;

fs::path mountRoot(const Roots& roots) { return roots.sys / "fs/cgroup"; }

bool unifiedOnly(const Roots& roots) {
  std::error_code ec;
  return fs::exists(mountRoot(roots) / "cgroup.controllers", ec);
}

parse::CgroupMembership membership(const Roots& roots) {
  auto text = readText(roots.proc / "self/cgroup");
  return text ? parse::cgroupMembership(*text) : parse::CgroupMembership{};
}

// The group's folder and its ancestors up to `base`, nearest first. Inside a
// container without its own cgroup namespace the path names a folder of the
// host that is not mounted here; the container's mount root is then its group.
std::vector<fs::path> chain(const fs::path& base, const std::string& path) {
  std::vector<fs::path> out;
  std::error_code ec;
  fs::path rel = fs::path(path).relative_path().lexically_normal();
  if (rel.empty() || rel == "." || *rel.begin() == "..") return {base};
  fs::path leaf = base / rel;
  if (!fs::is_directory(leaf, ec)) return {base};
  for (int depth = 0; depth < kMaxDepth && !rel.empty() && rel != "."; ++depth) {
    out.push_back(base / rel);
    rel = rel.parent_path();
  }
  out.push_back(base);
  return out;
}

// The folders of one v1 controller, or of the unified hierarchy.
std::vector<fs::path> groupChain(const Roots& roots, const parse::CgroupMembership& m,
                                 const char* v1Controller) {
  if (unifiedOnly(roots)) {
    if (!m.unified) return {};
    return chain(mountRoot(roots), *m.unified);
  }
  auto it = m.controllers.find(v1Controller);
  if (it == m.controllers.end()) return {};
  std::error_code ec;
  for (const auto& name : {it->second.mountName, it->first}) {
    fs::path base = mountRoot(roots) / name;
    if (fs::is_directory(base, ec)) return chain(base, it->second.path);
  }
  return {};
}

struct Quota {
  double processors = 0;
  fs::path group;
};

std::optional<Quota> tightestQuota(const Roots& roots, const parse::CgroupMembership& m) {
  std::optional<Quota> best;
  bool unified = unifiedOnly(roots);
  for (const auto& dir : groupChain(roots, m, "cpu")) {
    std::optional<double> q;
    if (unified) {
      if (auto text = readText(dir / "cpu.max")) q = parse::cpuMax(*text);
    } else {
      auto quota = readText(dir / "cpu.cfs_quota_us");
      auto period = readText(dir / "cpu.cfs_period_us");
      if (quota && period) q = parse::cfsQuota(*quota, *period);
    }
    if (q && std::isfinite(*q) && (!best || *q < best->processors)) best = Quota{*q, dir};
  }
  return best;
}

std::optional<uint64_t> usageMicros(const Roots& roots, const parse::CgroupMembership& m,
                                    const fs::path& quotaGroup) {
  if (unifiedOnly(roots)) {
    auto text = readText(quotaGroup / "cpu.stat");
    if (!text) return std::nullopt;
    auto counters = parse::keyedCounters(*text);
    auto it = counters.find("usage_usec");
    if (it == counters.end()) return std::nullopt;
    return it->second;
  }
  // v1 accounts time in cpuacct, usually co-mounted with cpu; the quota's own
  // group is where to look, else this process's cpuacct group. That group's
  // root is the whole host, whose time says nothing about the quota.
  std::vector<fs::path> places{quotaGroup};
  auto own = groupChain(roots, m, "cpuacct");
  if (own.size() > 1) places.push_back(own.front());
  for (const auto& dir : places)
    if (auto ns = text_file::readInt(dir / "cpuacct.usage"); ns && *ns >= 0)
      return static_cast<uint64_t>(*ns) / 1000;
  return std::nullopt;
}

std::optional<int64_t> cpusetProcessors(const Roots& roots, const parse::CgroupMembership& m) {
  const char* names[] = {"cpuset.cpus.effective", "cpuset.effective_cpus", "cpuset.cpus"};
  // The nearest group that says: effective lists already fold in ancestors.
  for (const auto& dir : groupChain(roots, m, "cpuset")) {
    for (const char* name : names) {
      auto text = readText(dir / name);
      if (!text) continue;
      auto n = parse::cpuListCount(*text);
      if (n && *n > 0) return *n;
    }
  }
  return std::nullopt;
}

std::optional<int64_t> affinityProcessors(const Roots& roots) {
  // The scheduler's mask for this process, as sched_getaffinity(2) returns it,
  // read where a fixture tree can stand in for it.
  auto text = readText(roots.proc / "self/status");
  if (!text) return std::nullopt;
  for (std::string_view line : text_file::lines(*text)) {
    constexpr std::string_view key = "Cpus_allowed_list:";
    if (line.substr(0, key.size()) != key) continue;
    auto n = parse::cpuListCount(text_file::trim(line.substr(key.size())));
    if (n && *n > 0) return *n;
    return std::nullopt;
  }
  return std::nullopt;
}

uint64_t counter(const std::map<std::string, uint64_t, std::less<>>& m,
                 std::initializer_list<std::string_view> keys) {
  for (auto key : keys)
    if (auto it = m.find(key); it != m.end()) return it->second;
  return 0;
}

// The group's memory in the breakdown's terms; each page counted once.
std::optional<VmStatistics> groupStatistics(const fs::path& dir, bool unified) {
  VmStatistics v;
  if (auto text = readText(dir / "memory.stat")) {
    auto c = parse::keyedCounters(*text);
    if (unified) {
      v.internalBytes = counter(c, {"anon"}) + counter(c, {"shmem"});
      uint64_t file = counter(c, {"file"});
      uint64_t shmem = counter(c, {"shmem"});
      v.externalBytes = (file > shmem ? file - shmem : 0) + counter(c, {"slab_reclaimable"});
      v.wiredBytes = counter(c, {"kernel_stack"}) + counter(c, {"pagetables"}) +
                     counter(c, {"slab_unreclaimable"}) + counter(c, {"sock"}) +
                     counter(c, {"percpu"});
      v.compressorBytes = counter(c, {"zswap"});
      if (c.count("anon")) return v;
    } else {
      // The total_ figures include the groups below this one.
      v.internalBytes = counter(c, {"total_rss", "rss"}) + counter(c, {"total_shmem", "shmem"});
      uint64_t cache = counter(c, {"total_cache", "cache"});
      uint64_t shmem = counter(c, {"total_shmem", "shmem"});
      v.externalBytes = cache > shmem ? cache - shmem : 0;
      if (c.count("total_rss") || c.count("rss")) return v;
    }
  }
  // Without the breakdown, everything charged to the group counts as in use.
  auto current = text_file::readInt(dir / (unified ? "memory.current" : "memory.usage_in_bytes"));
  if (!current || *current < 0) return std::nullopt;
  v = {};
  v.internalBytes = static_cast<uint64_t>(*current);
  return v;
}

}  // namespace

std::optional<CpuAllowance> cpuAllowance(const Roots& roots, int64_t hostProcessors) {
  auto m = membership(roots);
  CpuAllowance a;
  a.processors = std::max<int64_t>(hostProcessors, 1);
  // A cpuset usually also narrows the affinity mask to the same processors;
  // the cpuset is then the reason, so it is asked first and wins the tie.
  if (auto n = cpusetProcessors(roots, m); n && *n < a.processors) {
    a.processors = *n;
    a.limitedBy = "cpuset";
  }
  if (auto n = affinityProcessors(roots); n && *n < a.processors) {
    a.processors = *n;
    a.limitedBy = "affinity";
  }
  if (auto q = tightestQuota(roots, m)) {
    // 1.5 processors' worth of time keeps two processors partly busy.
    double whole = std::ceil(q->processors);
    if (whole < static_cast<double>(a.processors)) {
      a.processors = std::max<int64_t>(static_cast<int64_t>(whole), 1);
      a.limitedBy = "cgroup";
      a.quotaProcessors = q->processors;
      a.quotaUsageMicros = usageMicros(roots, m, q->group);
    }
  }
  if (a.limitedBy.empty()) return std::nullopt;
  return a;
}

std::optional<MemoryAllowance> memoryAllowance(const Roots& roots, uint64_t hostBytes) {
  auto m = membership(roots);
  bool unified = unifiedOnly(roots);
  std::optional<MemoryAllowance> best;
  fs::path limiting;
  for (const auto& dir : groupChain(roots, m, "memory")) {
    auto text = readText(dir / (unified ? "memory.max" : "memory.limit_in_bytes"));
    if (!text) continue;
    auto limit = parse::memoryLimit(*text);
    // v1 writes "no limit" as a huge page-aligned number; it is above RAM.
    if (!limit || (hostBytes > 0 && *limit >= hostBytes)) continue;
    if (!best || *limit < best->limitBytes) {
      best = MemoryAllowance{*limit, std::nullopt, std::nullopt};
      limiting = dir;
    }
  }
  if (!best) return std::nullopt;
  best->stats = groupStatistics(limiting, unified);
  if (auto text = readText(limiting / "memory.pressure")) {
    if (auto p = parse::psi(*text)) best->pressure = parse::stallLevel(*p);
  }
  if (!best->pressure && best->stats) {
    uint64_t used =
        best->stats->internalBytes + best->stats->wiredBytes + best->stats->compressorBytes;
    best->pressure = parse::availableLevel(used >= best->limitBytes ? 0 : best->limitBytes - used,
                                           best->limitBytes);
  }
  return best;
}

}  // namespace norvo::platform::system_source
