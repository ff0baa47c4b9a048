#include "core/platform/linux/proc_parsers.hpp"

#include <algorithm>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

using text_file::fields;
using text_file::forEachLine;
using text_file::parseDouble;
using text_file::parseUnsigned;

namespace {

std::string unescapeMount(std::string_view raw) {
  auto oct = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 3 < raw.size() && oct(raw[i + 1]) && oct(raw[i + 2]) &&
        oct(raw[i + 3])) {
      out.push_back(
          static_cast<char>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 + (raw[i + 3] - '0')));
      i += 3;
      continue;
    }
    out.push_back(raw[i]);
  }
  return out;
}

}  // namespace

std::optional<CpuTicks> procStatCpu(std::string_view text) {
  std::optional<CpuTicks> result;
  forEachLine(text, [&](std::string_view line) {
    if (result) return;
    auto f = fields(line);
    if (f.empty() || f[0] != "cpu") return;
    uint64_t v[8] = {};
    size_t count = std::min<size_t>(f.size() - 1, 8);
    if (count < 4) return;
    for (size_t i = 0; i < count; ++i) {
      auto n = parseUnsigned(f[i + 1]);
      if (!n) return;
      v[i] = *n;
    }
    // Columns: user nice system idle iowait irq softirq steal.
    CpuTicks t;
    t.busy = v[0] + v[1] + v[2] + v[5] + v[6];
    t.total = t.busy + v[3] + v[4];
    result = t;
  });
  return result;
}

int procStatCpuCount(std::string_view text) {
  int count = 0;
  forEachLine(text, [&](std::string_view line) {
    if (line.size() > 3 && line.substr(0, 3) == "cpu" && line[3] >= '0' && line[3] <= '9') ++count;
  });
  return count;
}

std::map<std::string, uint64_t, std::less<>> meminfo(std::string_view text) {
  std::map<std::string, uint64_t, std::less<>> out;
  forEachLine(text, [&](std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return;
    auto f = fields(line.substr(colon + 1));
    if (f.empty()) return;
    auto n = parseUnsigned(f[0]);
    if (!n) return;
    uint64_t value = *n;
    if (f.size() > 1 && f[1] == "kB") value *= 1024;
    out.emplace(std::string(line.substr(0, colon)), value);
  });
  return out;
}

std::optional<MemoryFigures> memoryFigures(std::string_view meminfoText) {
  auto m = meminfo(meminfoText);
  auto field = [&](std::string_view key) -> uint64_t {
    auto it = m.find(key);
    return it == m.end() ? 0 : it->second;
  };
  bool hasLists = m.count("Active(anon)") && m.count("Inactive(anon)");
  if (!m.count("MemTotal") || (!hasLists && !m.count("AnonPages"))) return std::nullopt;
  MemoryFigures f;
  // The anon LRU lists hold process memory and shared memory (tmpfs, /dev/shm,
  // memfd) alike: neither can be dropped without swap. Mlocked pages sit on the
  // unevictable list instead, so counting them under wired counts them once.
  if (hasLists) {
    f.appBytes = field("Active(anon)") + field("Inactive(anon)");
  } else {
    uint64_t anon = field("AnonPages") + field("Shmem");
    uint64_t locked = std::min(field("Mlocked"), anon);
    f.appBytes = anon - locked;
  }
  if (m.count("Active(file)") || m.count("Inactive(file)")) {
    f.externalBytes = field("Active(file)") + field("Inactive(file)");
  } else {
    // Cached includes shared memory, which is app memory here.
    uint64_t cached = field("Cached");
    uint64_t shmem = std::min(field("Shmem"), cached);
    f.externalBytes = cached - shmem;
  }
  // Reclaimable slab (dentries, inodes) is cache the kernel gives back on demand.
  f.externalBytes += field("SReclaimable");
  // Unevictable pages plus the kernel's own memory that is never paged out.
  f.wiredBytes =
      field("Unevictable") + field("SUnreclaim") + field("KernelStack") + field("PageTables");
  f.zswapBytes = field("Zswap");
  return f;
}

std::optional<uint64_t> vmstatField(std::string_view text, std::string_view key) {
  std::optional<uint64_t> result;
  forEachLine(text, [&](std::string_view line) {
    if (result) return;
    auto f = fields(line);
    if (f.size() >= 2 && f[0] == key) result = parseUnsigned(f[1]);
  });
  return result;
}

std::optional<std::array<double, 3>> loadavg(std::string_view text) {
  auto f = fields(text_file::trim(text));
  if (f.size() < 3) return std::nullopt;
  std::array<double, 3> out{};
  for (int i = 0; i < 3; ++i) {
    auto d = parseDouble(f[i]);
    if (!d || *d < 0) return std::nullopt;
    out[i] = *d;
  }
  return out;
}

std::optional<Pressure> psi(std::string_view text) {
  std::optional<double> some, full;
  forEachLine(text, [&](std::string_view line) {
    auto f = fields(line);
    if (f.size() < 2) return;
    for (size_t i = 1; i < f.size(); ++i) {
      if (f[i].substr(0, 6) != "avg10=") continue;
      auto d = parseDouble(f[i].substr(6));
      if (!d) return;
      if (f[0] == "some") some = *d;
      if (f[0] == "full") full = *d;
    }
  });
  if (!some) return std::nullopt;
  return Pressure{*some, full};
}

namespace {

// Calls `range(first, last)` for each entry of a kernel CPU list ("0-3,8,10-11");
// false, after calling it for the entries before, when an entry is malformed
// or a range runs backwards or spans more than a million CPUs.
template <typename Range>
bool forEachCpuRange(std::string_view text, Range&& range) {
  text = text_file::trim(text);
  if (text.empty()) return false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string_view::npos) end = text.size();
    auto part = text.substr(pos, end - pos);
    auto dash = part.find('-');
    auto a = parseUnsigned(part.substr(0, dash));
    auto b = dash == std::string_view::npos ? a : parseUnsigned(part.substr(dash + 1));
    if (!a || !b || *b < *a || *b - *a > 1'000'000) return false;
    range(*a, *b);
    pos = end + 1;
  }
  return true;
}

}  // namespace

std::optional<int> cpuListCount(std::string_view text) {
  int count = 0;
  if (!forEachCpuRange(text, [&](uint64_t a, uint64_t b) { count += static_cast<int>(b - a + 1); }))
    return std::nullopt;
  return count;
}

std::vector<int> cpuListMembers(std::string_view text) {
  auto count = cpuListCount(text);
  if (!count || *count > 65536) return {};
  std::vector<int> out;
  bool fits = true;
  forEachCpuRange(text, [&](uint64_t a, uint64_t b) {
    if (b > INT32_MAX) fits = false;
    for (uint64_t cpu = a; fits && cpu <= b; ++cpu) out.push_back(static_cast<int>(cpu));
  });
  if (!fits) return {};
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::optional<CapacitySplit> splitByCapacity(const std::map<int, uint64_t>& capacities) {
  if (capacities.empty()) return std::nullopt;
  uint64_t lowest = UINT64_MAX;
  for (const auto& [cpu, capacity] : capacities) lowest = std::min(lowest, capacity);
  CapacitySplit split;
  for (const auto& [cpu, capacity] : capacities) {
    auto& list = capacity == lowest ? split.efficiency : split.performance;
    if (!list.empty()) list += ',';
    list += std::to_string(cpu);
  }
  if (split.performance.empty()) return std::nullopt;
  return split;
}

std::vector<MountEntry> mountinfo(std::string_view text) {
  std::vector<MountEntry> out;
  forEachLine(text, [&](std::string_view line) {
    // id parent major:minor root mountpoint options [optional…] - fstype source superoptions
    auto f = fields(line);
    if (f.size() < 7) return;
    size_t dash = 0;
    for (size_t i = 6; i < f.size(); ++i) {
      if (f[i] == "-") {
        dash = i;
        break;
      }
    }
    if (dash == 0 || dash + 1 >= f.size()) return;
    MountEntry e;
    e.majorMinor = std::string(f[2]);
    e.mountPoint = unescapeMount(f[4]);
    e.fsType = std::string(f[dash + 1]);
    if (dash + 2 < f.size()) e.source = unescapeMount(f[dash + 2]);
    auto opts = f[5];
    e.readOnly = opts == "ro" || opts.substr(0, 3) == "ro,";
    out.push_back(std::move(e));
  });
  return out;
}

}  // namespace norvo::platform::parse
