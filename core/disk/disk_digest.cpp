#include "core/disk/disk_digest.hpp"

#include <cmath>

#include "core/disk/disk_history.hpp"
#include "core/platform/platform_words.hpp"

namespace norvo::Compact {

namespace {

using Json = nlohmann::json;
using namespace norvo::DiskUsage;

constexpr int64_t kSmallTreeMin = 104857600;
constexpr int64_t kSmallTreeMax = 20971519999;

Json gb(int64_t bytes) { return gbValue(static_cast<double>(bytes)); }

Json dateOrNull(const std::optional<Date>& d) { return d ? Json(formatIso8601(*d)) : Json(); }

Json node(const Node& n, int level, int64_t min, int depth, const Places& places) {
  Kind k = kind(n.path, places);
  Json out = {
      {"path", n.path}, {"size_gb", gb(n.bytes)}, {"safety", rawValue(k.safety)}, {"what", k.what}};
  if (n.lock) {
    out["not_counted"] = *n.lock == Lock::privacy ? platform::diskWords().ownerFirst
                                                  : platform::diskWords().noAccess;
    out["size_gb"] = nullptr;
  }
  if (level < depth) {
    Json kids = Json::array();
    for (const auto& c : n.children)
      if (c.bytes >= min || (level == 0 && c.lock))
        kids.push_back(node(c, level + 1, min, depth, places));
    if (!kids.empty()) out["children"] = std::move(kids);
  }
  return out;
}

Json kindEntry(const std::string& path, int64_t bytes, const Places& places) {
  Kind k = kind(path, places);
  return {{"path", path},
          {"size_gb", gb(bytes)},
          {"safety", rawValue(k.safety)},
          {"what", k.what},
          {"how", k.how}};
}

}  // namespace

Json diskReport(const Report& report, int depth, const Places& places,
                const FreeChangeLookup& freeChange) {
  int64_t min = report.root.bytes <= kSmallTreeMax ? kSmallTreeMin : report.root.bytes / 200;
  Json out = Json::object();

  Json advice = Json::array();
  int64_t totals[3] = {0, 0, 0};
  for (const auto& a : report.advice) {
    advice.push_back({{"path", a.path},
                      {"size_gb", gb(a.bytes)},
                      {"safety", rawValue(a.kind.safety)},
                      {"what", a.kind.what},
                      {"how", a.kind.how}});
    totals[static_cast<int>(a.kind.safety)] += a.bytes;
  }
  out["advice"] = std::move(advice);

  Json largest = Json::array();
  for (size_t i = 0; i < report.bigFiles.size() && i < 25; ++i) {
    const auto& f = report.bigFiles[i];
    Kind k = kind(f.path, places);
    largest.push_back({{"path", f.path},
                       {"size_gb", gb(f.bytes)},
                       {"safety", rawValue(k.safety)},
                       {"what", k.what},
                       {"modified", dateOrNull(f.modified)}});
  }
  out["largest_files"] = std::move(largest);
  out["advice_totals_may_overlap"] = {
      {"safe_gb", gb(totals[0])}, {"review_gb", gb(totals[1])}, {"keep_gb", gb(totals[2])}};
  out["scanned"] = node(report.root, 0, min, depth, places);

  Json grew = Json::array();
  for (const auto& c : report.recent) grew.push_back(kindEntry(c.path, c.bytes, places));
  out["grew_recently"] = std::move(grew);
  out["grew_recently_basis"] =
      report.recentSince
          ? "grown since the scan of " + formatIso8601(*report.recentSince)
          : std::string(
                "files created or changed in the last 7 days (no earlier scan to compare "
                "with yet)");

  const auto& v = report.volume;
  out["volume"] = {{"name", v.name},
                   {"path", v.path},
                   {"startup", v.isStartup},
                   {"external", !v.isInternal},
                   {"total_gb", gb(v.totalBytes)},
                   {"used_gb", gb(v.usedBytes())},
                   {"free_gb", gb(v.freeBytes)},
                   {"purgeable_gb", gb(v.purgeableBytes)},
                   {"format", v.format}};
  Json skipped = Json::array();
  for (const auto& s : report.skipped) skipped.push_back(s.path);
  out["not_counted"] = std::move(skipped);
  out["full_disk_access"] = report.fullDiskAccess;
  out["complete"] = report.complete;
  out["seconds"] = static_cast<int64_t>(std::llround(report.seconds));
  out["scanned_at"] = formatIso8601(report.date);
  out["safety_legend"] = {{"safe", legend(Safety::safe)},
                          {"review", legend(Safety::review)},
                          {"keep", legend(Safety::keep)}};
  if (freeChange) {
    if (auto change = freeChange(v.path, 7, v.freeBytes, std::chrono::system_clock::now())) {
      out["free_change_gb"] = gb(change->bytes);
      out["free_change_since"] = formatIso8601(change->since);
    }
  }
  return out;
}

FreeChangeLookup freeChangeFrom(const std::filesystem::path& historyDir) {
  return [historyDir](const std::string& path, double days, int64_t current,
                      Date now) -> std::optional<FreeChange> {
    auto change = DiskHistory::freeChange(historyDir, path, days, current, now);
    if (!change) return std::nullopt;
    return FreeChange{change->bytes, change->since};
  };
}

}  // namespace norvo::Compact
