#include "core/uninstall/uninstall.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "core/platform/record_file.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::Uninstall {

namespace fs = std::filesystem;

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

std::vector<LeftoverFolder> foldersOf(const platform::AppPlaces& p) {
  return leftoverFolders(p.home, p.dataHome, p.configHome, p.cacheHome, p.stateHome);
}

// Whether a leftover may be removed from where it lies: an absolute path in
// its plain form ("." and ".." would hide where it really points) strictly
// inside a data folder of home, and not in Flatpak's own installation there,
// which only the flatpak program may change.
bool insideDataFolders(const std::string& path, const platform::AppPlaces& places) {
  fs::path p(path);
  if (!p.is_absolute() || p.lexically_normal() != p) return false;
  auto flatpak = (places.dataHome / "flatpak").lexically_normal();
  auto rel = p.lexically_relative(flatpak);
  if (!rel.empty() && *rel.begin() != "..") return false;
  return folderHolding(p, foldersOf(places)).has_value();
}

// Measures each path in parallel (at most four at a time, the walks being
// disk-bound) until the shared deadline.
std::vector<std::optional<int64_t>> measurePaths(const std::vector<std::string>& paths,
                                                 double timeout) {
  std::vector<std::optional<int64_t>> sizes(paths.size());
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(std::max(0.0, timeout)));
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < paths.size(); i = next++)
      sizes[i] = platform::measureBytes(paths[i], deadline);
  };
  std::vector<std::thread> threads;
  size_t count = std::min<size_t>(4, paths.size());
  for (size_t i = 0; i < count; ++i) threads.emplace_back(work);
  for (auto& t : threads) t.join();
  return sizes;
}

Failure refusedFailure(const std::string& path, const std::string& app) {
  return Failure{path, std::string(kRefusedReason), Failure::Kind::refused, app};
}

// The checks every item meets right before it goes. Absent when it may go.
std::optional<Failure> check(const std::string& path, const std::string& app,
                             const platform::AppPlaces& places) {
  if (!insideDataFolders(path, places)) return refusedFailure(path, app);
  switch (platform::checkBelow(places.home, path)) {
    case platform::ItemCheck::present: return std::nullopt;
    case platform::ItemCheck::gone:
      return Failure{path, std::string(kGoneReason), Failure::Kind::gone, app};
    case platform::ItemCheck::outside: break;
  }
  return refusedFailure(path, app);
}

struct Item {
  std::string path;
  std::string app;
  std::optional<platform::BundleKind> kind;  // set for an app bundle
  std::optional<std::string> bundleID;
};

platform::Removal removeItem(const Item& item, bool permanently, bool dryRun, const Remover& remove,
                             const platform::AppPlaces& places) {
  if (item.kind == platform::BundleKind::flatpakSystem) {
    platform::Removal r;
    r.errorCode = EPERM;
    r.message = item.path + ": installed for all users; run `flatpak uninstall --system " +
                item.bundleID.value_or(item.app) + "` as an administrator";
    return r;
  }
  if (item.kind == platform::BundleKind::flatpakUser) {
    auto size = platform::deleteBelow(places.dataHome, item.path, true);
    if (dryRun) return size;
    auto r = platform::uninstallFlatpak(item.bundleID.value_or(item.app));
    if (r.ok) r.bytes = size.bytes;
    return r;
  }
  if (dryRun) return platform::deleteBelow(places.home, item.path, true);
  if (remove) return remove(item.path);
  return permanently ? deleteNow(item.path, places.home) : moveToTrash(item.path, places.home);
}

// Removes the items one by one, collecting into `result`.
void removeAll(const std::vector<Item>& items, bool permanently, bool dryRun, const Remover& remove,
               const platform::AppPlaces& places, Result& result) {
  for (const auto& item : items) {
    auto r = removeItem(item, permanently, dryRun, remove, places);
    if (r.ok) {
      (permanently || item.kind == platform::BundleKind::flatpakUser ? result.deleted
                                                                     : result.trashed)
          .push_back(item.path);
      result.bytes += r.bytes;
      continue;
    }
    // The check at the moment of acting found what the earlier one did not.
    if (r.check == platform::ItemCheck::gone) {
      result.failures.push_back(
          Failure{item.path, std::string(kGoneReason), Failure::Kind::gone, item.app});
      continue;
    }
    if (r.check == platform::ItemCheck::outside) {
      result.failures.push_back(refusedFailure(item.path, item.app));
      result.errors.push_back(item.path + ": " + std::string(kRefusedReason));
      continue;
    }
    std::string message = r.message.empty() ? item.path + ": could not be removed" : r.message;
    result.failures.push_back(
        Failure{item.path, message, kindOf(r.errorCode, item.path), item.app});
    result.errors.push_back(message);
  }
}

void logResult(const Result& result, const std::string& actor, const std::string& name,
               const std::string& detail, const fs::path& store) {
  NorvoStore::Action action;
  action.date = std::chrono::system_clock::now();
  action.actor = actor;
  action.kind = "uninstall";
  action.name = name;
  action.detail = detail.empty() ? summary(result) : detail + "; " + summary(result);
  NorvoStore::log(action, store);
}

// The saved failures of items this run did not touch, kept when it saves its
// own.
std::vector<Failure> mergedWithSaved(const Result& result, const fs::path& store) {
  std::set<std::string> paths(result.trashed.begin(), result.trashed.end());
  paths.insert(result.deleted.begin(), result.deleted.end());
  for (const auto& f : result.failures) paths.insert(f.path);
  auto merged = result.failures;
  for (const auto& f : savedFailures(store))
    if (!paths.count(f.path)) merged.push_back(f);
  return merged;
}

}  // namespace

Context Context::forUser() {
  Context c;
  c.places = platform::AppPlaces::forUser(platform::Roots::system());
  c.store = NorvoStore::directory();
  c.readProcesses = [] { return ProcessTable::shared().read(std::chrono::seconds(2)); };
  return c;
}

bool isProduct(std::string_view text) {
  auto t = trimmed(text);
  for (std::string_view own : {"com.vadro.ZemraNorvo", "Zemra Norvo", "ZemraNorvo", "zemnorvo"})
    if (equalsIgnoringCase(t, own)) return true;
  return false;
}

std::vector<Installed> installed(const Context& context) {
  std::vector<Installed> out;
  auto bundles = platform::listAppBundles(context.places);
  auto readings = context.readProcesses ? context.readProcesses() : ProcessReadings{};
  for (auto& b : bundles) {
    bool never = b.bundleID && std::find(std::begin(kNeverOffered), std::end(kNeverOffered),
                                         *b.bundleID) != std::end(kNeverOffered);
    if (never || isProduct(b.name)) continue;
    Installed i;
    i.app.name = b.name;
    i.app.path = b.path;
    i.app.bundleID = b.bundleID;
    i.app.version = b.version;
    i.app.lastUsed = b.lastUsed;
    i.app.running = !processes(i.app, readings).empty();
    i.kind = b.kind;
    i.displayName = b.displayName;
    i.desktopEntries = b.desktopEntries;
    out.push_back(std::move(i));
  }
  std::sort(out.begin(), out.end(), [](const Installed& a, const Installed& b) {
    return std::tie(a.app.name, a.app.path) < std::tie(b.app.name, b.app.path);
  });
  return out;
}

std::vector<App> installedApps(bool measure, double timeout, const Context& context) {
  std::vector<App> apps;
  for (auto& i : installed(context)) apps.push_back(std::move(i.app));
  if (measure) measureApps(apps, timeout);
  return apps;
}

void measureApps(std::vector<App>& apps, double timeout) {
  std::vector<std::string> paths;
  for (const auto& a : apps) paths.push_back(a.path);
  auto sizes = measurePaths(paths, timeout);
  for (size_t i = 0; i < apps.size(); ++i) apps[i].bytes = sizes[i];
}

std::optional<App> find(std::string_view text, const std::vector<App>& apps) {
  auto t = trimmed(text);
  if (t.empty()) return std::nullopt;
  auto stem = fs::path(std::string(t)).stem().string();
  for (const auto& a : apps) {
    if (equalsIgnoringCase(t, a.name) || equalsIgnoringCase(t, a.path) ||
        (a.bundleID && equalsIgnoringCase(t, *a.bundleID)) || equalsIgnoringCase(stem, a.name))
      return a;
  }
  return std::nullopt;
}

std::vector<Leftover> leftovers(const App& app, const std::vector<App>& others, bool measure,
                                double timeout, const Context& context) {
  LeftoverQuery query{app, std::nullopt, {}, {}};
  for (const auto& b : platform::listAppBundles(context.places)) {
    if (b.path != app.path) continue;
    query.displayName = b.displayName;
    query.desktopEntries = b.desktopEntries;
    query.icons = b.icons;
  }
  auto found = findLeftovers(query, others, foldersOf(context.places), platform::listNames);
  std::erase_if(found, [&](const Leftover& l) {
    return platform::checkBelow(context.places.home, l.path) != platform::ItemCheck::present;
  });
  if (measure) {
    std::vector<std::string> paths;
    for (const auto& l : found) paths.push_back(l.path);
    auto sizes = measurePaths(paths, timeout);
    for (size_t i = 0; i < found.size(); ++i) found[i].bytes = sizes[i];
  }
  return found;
}

std::vector<int32_t> processes(const App& app, const ProcessReadings& readings) {
  std::vector<int32_t> pids;
  const std::string inside = app.path + "/";
  for (const auto& [pid, r] : readings) {
    bool fromBundle = !r.path.empty() && (r.path == app.path || r.path.starts_with(inside));
    bool inUnit =
        app.bundleID && r.appEntry && ProcessTable::desktopEntryId(*r.appEntry) == *app.bundleID;
    if (fromBundle || inUnit) pids.push_back(pid);
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

Result run(const std::string& appPath, const std::vector<std::string>& leftoverPaths,
           const RunOptions& options, const Context& context) {
  Result result;
  auto apps = installed(context);
  auto it = std::find_if(apps.begin(), apps.end(),
                         [&](const Installed& i) { return i.app.path == appPath; });
  if (it == apps.end()) {
    result.errors.push_back(appPath + std::string(kNotOffered));
    return result;
  }
  const App& app = it->app;
  if (app.running) {
    result.errors.push_back(app.name + std::string(kIsRunning));
    return result;
  }

  std::vector<Item> items{{app.path, app.name, it->kind, app.bundleID}};
  std::set<std::string> seen{app.path};
  for (const auto& path : leftoverPaths) {
    if (!seen.insert(path).second) continue;
    if (auto failed = check(path, app.name, context.places)) {
      if (failed->kind == Failure::Kind::refused)
        result.errors.push_back(path + ": " + std::string(kRefusedReason));
      result.failures.push_back(std::move(*failed));
      continue;
    }
    items.push_back({path, app.name, std::nullopt, std::nullopt});
  }
  removeAll(items, options.permanently, options.dryRun, options.remove, context.places, result);
  if (options.dryRun) return result;

  if (!saveFailures(mergedWithSaved(result, context.store), context.store))
    result.errors.push_back("The failed items could not be saved for a retry.");
  if (options.logActions) logResult(result, options.actor, app.name, options.detail, context.store);
  return result;
}

Result retry(bool permanently, bool logActions, const Remover& remove, const Context& context) {
  Result result;
  auto apps = installed(context);
  std::vector<Item> items;
  for (const auto& f : savedFailures(context.store)) {
    // An app bundle that failed goes the way its kind goes, checked there.
    auto bundle = std::find_if(apps.begin(), apps.end(),
                               [&](const Installed& i) { return i.app.path == f.path; });
    if (bundle != apps.end()) {
      items.push_back({f.path, f.app, bundle->kind, bundle->app.bundleID});
      continue;
    }
    if (auto failed = check(f.path, f.app, context.places)) {
      if (failed->kind == Failure::Kind::refused)
        result.errors.push_back(f.path + ": " + std::string(kRefusedReason));
      result.failures.push_back(std::move(*failed));
      continue;
    }
    items.push_back({f.path, f.app, std::nullopt, std::nullopt});
  }
  removeAll(items, permanently, false, remove, context.places, result);
  if (!saveFailures(result.failures, context.store))
    result.errors.push_back("The failed items could not be saved for a retry.");
  if (logActions) logResult(result, "owner", "retry", "", context.store);
  return result;
}

UninstallSuggestion answer(UninstallSuggestion suggestion, bool accept, const Context& context,
                           Result* outcome) {
  suggestion.answeredAt = std::chrono::system_clock::now();
  if (!accept) {
    suggestion.status = "declined";
    if (auto written = NorvoStore::resolveUninstall(suggestion, context.store); !written)
      throw std::runtime_error("the answer was not recorded: " + written.error);
    return suggestion;
  }
  std::vector<std::string> chosen;
  auto apps = installedApps(false, 0, context);
  if (auto app = std::find_if(apps.begin(), apps.end(),
                              [&](const App& a) { return a.path == suggestion.appPath; });
      app != apps.end()) {
    for (const auto& l : leftovers(*app, apps, false, 0, context))
      if (!l.byName) chosen.push_back(l.path);
  }
  RunOptions options;
  options.detail = "suggested by an agent: " + suggestion.reason;
  auto result = run(suggestion.appPath, chosen, options, context);
  auto has = [&](const std::vector<std::string>& list) {
    return std::find(list.begin(), list.end(), suggestion.appPath) != list.end();
  };
  suggestion.removed = has(result.trashed) || has(result.deleted);
  if (suggestion.removed) suggestion.deleted = has(result.deleted);
  suggestion.bytes = result.bytes;
  suggestion.status = suggestion.removed ? "accepted" : "failed";
  if (auto written = NorvoStore::resolveUninstall(suggestion, context.store); !written)
    throw std::runtime_error("the answer was not recorded: " + written.error);
  if (outcome) *outcome = std::move(result);
  return suggestion;
}

platform::Removal moveToTrash(const fs::path& path, const fs::path& home) {
  return platform::trashBelow(home, path);
}

platform::Removal deleteNow(const fs::path& path, const fs::path& home) {
  return platform::deleteBelow(home, path);
}

Failure::Kind kindOf(int errorCode, std::string_view path) {
  if (errorCode != EACCES && errorCode != EPERM) return Failure::Kind::other;
  return path.find("/.var/app/") != std::string_view::npos ? Failure::Kind::protected_
                                                           : Failure::Kind::permission;
}

bool canAccess(const Failure& failure) {
  if (failure.kind != Failure::Kind::protected_) return true;
  return platform::canListFolder(failure.path);
}

bool saveFailures(const std::vector<Failure>& failures, const fs::path& store) {
  std::vector<Failure> kept;
  for (const auto& f : failures)
    if (f.kind != Failure::Kind::gone && f.kind != Failure::Kind::refused) kept.push_back(f);
  auto file = store / kFailureFile;
  if (kept.empty()) {
    std::error_code ec;
    fs::remove(file, ec);
    return !ec;
  }
  return static_cast<bool>(record_file::write(kept, file));
}

std::vector<Failure> savedFailures(const fs::path& store) {
  return record_file::read<std::vector<Failure>>(store / kFailureFile, record_file::Links::refuse)
      .value_or(std::vector<Failure>{});
}

std::string summary(const Result& result) {
  auto text = fmt::format("{} item(s) to the Trash, {} deleted, {:.1f} GB freed",
                          result.trashed.size(), result.deleted.size(),
                          static_cast<double>(result.bytes) / (1024.0 * 1024.0 * 1024.0));
  if (result.errors.empty()) return text;
  text += fmt::format(", {} error(s):", result.errors.size());
  for (const auto& e : result.errors) text += " " + e + ";";
  text.pop_back();
  return text;
}

}  // namespace norvo::Uninstall
