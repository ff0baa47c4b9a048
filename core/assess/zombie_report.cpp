#include <algorithm>
#include <unordered_map>

#include "core/assess/health.hpp"

namespace norvo {

ZombieReport ZombieReport::tally(const std::vector<Entry>& processes) {
  std::unordered_map<int32_t, std::string> names;
  std::vector<Parent> parents;
  std::unordered_map<int32_t, size_t> slot;
  ZombieReport report;
  for (const auto& p : processes) {
    names.emplace(p.pid, p.name);
    if (!p.zombie) continue;
    ++report.count;
    auto [it, inserted] = slot.emplace(p.ppid, parents.size());
    if (inserted) parents.push_back({p.ppid, "", 0});
    ++parents[it->second].count;
  }
  std::stable_sort(parents.begin(), parents.end(),
                   [](const Parent& a, const Parent& b) { return a.count > b.count; });
  if (parents.size() > 3) parents.resize(3);
  for (auto& parent : parents) {
    auto it = names.find(parent.pid);
    parent.name = it == names.end() ? "?" : it->second;
  }
  report.parents = std::move(parents);
  return report;
}

}  // namespace norvo
