#include "core/platform/linux/cgroup_parsers.hpp"

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

CgroupMembership cgroupMembership(std::string_view text) {
  CgroupMembership m;
  for (std::string_view line : text_file::lines(text)) {
    // hierarchy-ID:controller-list:path (cgroups(7)); the path may hold ':'.
    auto first = line.find(':');
    if (first == std::string_view::npos) continue;
    auto second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    auto id = line.substr(0, first);
    auto list = line.substr(first + 1, second - first - 1);
    auto path = text_file::trim(line.substr(second + 1));
    if (path.empty() || path.front() != '/') continue;
    if (id == "0" && list.empty()) {
      m.unified = std::string(path);
      continue;
    }
    size_t pos = 0;
    while (pos <= list.size()) {
      auto end = list.find(',', pos);
      if (end == std::string_view::npos) end = list.size();
      auto name = list.substr(pos, end - pos);
      if (!name.empty() && name.find('=') == std::string_view::npos)
        m.controllers.insert_or_assign(
            std::string(name), CgroupMembership::Controller{std::string(list), std::string(path)});
      pos = end + 1;
    }
  }
  return m;
}

namespace {

std::optional<double> share(std::optional<int64_t> quota, std::optional<int64_t> period) {
  if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
  return static_cast<double>(*quota) / static_cast<double>(*period);
}

}  // namespace

std::optional<double> cpuMax(std::string_view text) {
  auto f = text_file::fields(text_file::trim(text));
  if (f.size() != 2 || f[0] == "max") return std::nullopt;
  return share(text_file::parseSigned(f[0]), text_file::parseSigned(f[1]));
}

std::optional<double> cfsQuota(std::string_view quotaText, std::string_view periodText) {
  return share(text_file::parseSigned(text_file::trim(quotaText)),
               text_file::parseSigned(text_file::trim(periodText)));
}

std::optional<uint64_t> memoryLimit(std::string_view text) {
  auto value = text_file::parseUnsigned(text_file::trim(text));
  if (!value || *value == 0) return std::nullopt;
  return value;
}

std::map<std::string, uint64_t, std::less<>> keyedCounters(std::string_view text) {
  std::map<std::string, uint64_t, std::less<>> out;
  for (std::string_view line : text_file::lines(text)) {
    auto f = text_file::fields(line);
    if (f.size() != 2) continue;
    if (auto v = text_file::parseUnsigned(f[1])) out.emplace(std::string(f[0]), *v);
  }
  return out;
}

PressureLevel stallLevel(const Pressure& p) {
  if (p.fullAvg10 && *p.fullAvg10 >= 10.0) return PressureLevel::critical;
  if (p.someAvg10 >= 10.0) return PressureLevel::warning;
  return PressureLevel::normal;
}

std::optional<PressureLevel> availableLevel(uint64_t availableBytes, uint64_t totalBytes) {
  if (totalBytes == 0) return std::nullopt;
  double share = static_cast<double>(availableBytes) / static_cast<double>(totalBytes);
  if (share < 0.05) return PressureLevel::critical;
  if (share < 0.10) return PressureLevel::warning;
  return PressureLevel::normal;
}

}  // namespace norvo::platform::parse
