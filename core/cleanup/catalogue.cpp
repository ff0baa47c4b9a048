#include "core/cleanup/catalogue.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <future>
#include <map>
#include <thread>

#include "core/cleanup/cleanup_parsers.hpp"
#include "core/platform/file_removal.hpp"
#include "core/platform/tool_run.hpp"

namespace norvo::Cleanup::catalogue {

namespace fs = std::filesystem;

namespace {

const std::set<std::string> kBuildTools{"xcodebuild", "XCBBuildService", "SWBBuildService",
                                        "swift-build", "swift-frontend"};
const std::set<std::string> kSimulatorTools{"Simulator", "launchd_sim", "simctl"};
const std::set<std::string> kPackageTools{"npm", "pnpm", "yarn", "bun"};

constexpr int64_t kDay = 86'400;

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Seconds since the entry at `path` was last modified (links not followed);
// absent when it cannot be read.
std::optional<int64_t> ageSeconds(const fs::path& path) {
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  if (ec || fs::is_symlink(status)) return std::nullopt;
  auto written = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::seconds>(fs::file_time_type::clock::now() -
                                                          written)
      .count();
}

bool isRealFolder(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::directory;
}

bool isRealFile(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

// The entries directly in `folder`, sorted; empty when it cannot be read.
std::vector<fs::path> entriesOf(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    out.push_back(it->path());
  std::sort(out.begin(), out.end());
  return out;
}

// Walks the tree below `root` without following links, down to `maxDepth`
// levels below it (1: its entries only), until `until`. `visit` sees each
// entry with its depth (1 for the root's entries) and says whether to enter
// it when it is a folder.
template <typename Visit>
void walk(const fs::path& root, int maxDepth, Clock::time_point until, Visit&& visit) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
    if (Clock::now() > until) return;
    int depth = it.depth() + 1;
    bool enter = visit(it->path(), depth);
    std::error_code linkError;  // not the walk's: a failed look ends nothing
    if (!enter || depth >= maxDepth || it->is_symlink(linkError)) it.disable_recursion_pending();
  }
}

std::string fileName(const fs::path& path) { return path.filename().string(); }

// Whether a running process of the readings executes `path` or something
// inside it.
bool runsFrom(const fs::path& path, const ProcessReadings& readings) {
  auto p = path.string();
  auto inside = [&](const std::string& file) {
    return !file.empty() && (file == p || file.starts_with(p + "/"));
  };
  for (const auto& [pid, r] : readings)
    if (inside(r.path) || inside(r.executable)) return true;
  return false;
}

Entry entry(std::string id, std::string title, std::string titleRu, Removal removal,
            bool recommended, std::string after, std::string afterRu, const fs::path& base) {
  Entry e;
  e.item.id = std::move(id);
  e.item.title = std::move(title);
  e.item.titleRu = std::move(titleRu);
  e.item.removal = removal;
  e.item.recommended = recommended;
  e.item.after = std::move(after);
  e.item.afterRu = std::move(afterRu);
  e.base = base;
  return e;
}

// Keeps the paths that pass the safety check against the entry's base, each
// once, in sorted order.
void setPaths(Entry& e, const std::vector<fs::path>& candidates) {
  std::set<std::string> kept;
  for (const auto& c : candidates)
    if (auto safe = safePath(c, e.base)) kept.insert(safe->string());
  e.item.paths.assign(kept.begin(), kept.end());
}

// What every search of a computed item reads.
struct Search {
  const NorvoConfig& config;
  const Context& context;
  const Places& places;
  bool userFolders;
  const ProcessReadings& readings;
  Clock::time_point until;
};

std::optional<Entry> unavailableSimulators(const Search& s) {
  std::error_code ec;
  if (!fs::exists(s.context.xcrun, ec)) return std::nullopt;
  auto listed = platform::runTool(
      {s.context.xcrun.string(), "simctl", "list", "devices", "unavailable", "-j"}, {},
      std::max(Clock::duration::zero(), s.until - Clock::now()));
  if (!listed.succeeded()) return std::nullopt;
  auto e = entry("unavailable-simulators", "Simulators of removed iOS versions",
                 "Симуляторы удалённых версий iOS", Removal::command, true,
                 "nothing: these runtimes are no longer installed",
                 "ничего: этих версий iOS уже нет", s.places.home);
  std::vector<fs::path> paths;
  for (const auto& p : parsers::unavailableDevicePaths(listed.output)) paths.emplace_back(p);
  setPaths(e, paths);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

std::optional<Entry> installers(const Search& s) {
  if (!s.userFolders) return std::nullopt;
  static const std::set<std::string> kinds{"dmg", "pkg", "mpkg", "xip",
                                           "iso", "deb", "rpm",  "appimage"};
  auto e = entry("installers", "Old installers (DMG, PKG, XIP) in Downloads and Desktop",
                 "Старые установщики (DMG, PKG, XIP) в Загрузках и на Рабочем столе",
                 Removal::trash, true, "moved to the Trash; download again if needed",
                 "уйдут в Корзину; при необходимости скачать заново", s.places.home);
  std::vector<fs::path> found;
  for (const auto& folder : {s.places.downloads, s.places.desktop}) {
    for (const auto& p : entriesOf(folder)) {
      auto ext = lower(p.extension().string());
      if (ext.size() < 2 || !kinds.count(ext.substr(1)) || !isRealFile(p)) continue;
      auto age = ageSeconds(p);
      // An AppImage that runs now is in use, whatever its age.
      if (age && *age >= kDay && !runsFrom(p, s.readings)) found.push_back(p);
    }
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

bool insideProtected(const fs::path& path, const Places& places) {
  for (const auto& folder : {places.desktop, places.documents, places.downloads}) {
    auto rel = path.lexically_normal().lexically_relative(folder.lexically_normal());
    if (!rel.empty() && *rel.begin() != "..") return true;
  }
  return false;
}

std::optional<Entry> projectBuildFolders(const Search& s) {
  auto e = entry("project-build-folders",
                 "Build folders of projects idle for 7+ days (node_modules, .build)",
                 "Папки сборки проектов без изменений 7+ дней (node_modules, .build)",
                 Removal::delete_, true, "restored by npm install / swift build",
                 "восстановятся через npm install / swift build", s.places.home);
  std::vector<fs::path> roots;
  for (const auto& r : s.config.projectRoots.value_or(std::vector<std::string>{}))
    roots.push_back(s.places.expand(r));
  for (const char* r : {"~/Developer", "~/Projects", "~/Code", "~/code", "~/src", "~/GitHub",
                        "~/Documents/XCode", "~/Documents/GitHub", "~/Documents/Projects"})
    roots.push_back(s.places.expand(r));
  std::set<fs::path> searched;
  std::vector<fs::path> found;
  static const std::array<std::pair<const char*, const char*>, 2> kBuilds{
      {{"node_modules", "package.json"}, {".build", "Package.swift"}}};
  auto check = [&](const fs::path& project) {
    for (const auto& [build, marker] : kBuilds) {
      if (!isRealFolder(project / build) || !isRealFile(project / marker)) continue;
      auto age = ageSeconds(project / marker);
      if (age && *age >= 7 * kDay) found.push_back(project / build);
    }
  };
  for (const auto& root : roots) {
    auto normal = root.lexically_normal();
    if (!searched.insert(normal).second || !isRealFolder(normal)) continue;
    if (!s.userFolders && insideProtected(normal, s.places)) continue;
    check(normal);
    walk(normal, 6, s.until, [&](const fs::path& p, int) {
      auto name = fileName(p);
      if (name.starts_with(".") || name == "node_modules" || name == "Pods") return false;
      if (!isRealFolder(p)) return false;
      auto ext = p.extension().string();
      if (ext == ".app" || ext == ".xcodeproj" || ext == ".xcworkspace") return false;
      check(p);
      return true;
    });
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

// The newest modification in the tree of `path` (its own included), in
// seconds of age, and whether something in it is in use: a socket or pipe (a
// live session's), or a file a process holds a lock on. Absent when the tree
// could not be read whole before `until`. Stops at the first entry younger
// than `minimum` seconds or in use: the tree is then known not to qualify.
struct TreeAge {
  int64_t youngest = 0;
  bool inUse = false;
};
std::optional<TreeAge> treeAge(const fs::path& path, const std::set<platform::FileIdentity>& locked,
                               int64_t minimum, Clock::time_point until) {
  auto own = ageSeconds(path);
  if (!own) return std::nullopt;
  TreeAge t{*own, false};
  auto examine = [&](const fs::path& p, fs::file_type type) {
    if (type == fs::file_type::socket || type == fs::file_type::fifo) t.inUse = true;
    if (auto id = platform::identityOf(p); id && locked.count(*id)) t.inUse = true;
  };
  std::error_code ec;
  examine(path, fs::symlink_status(path, ec).type());
  if (!isRealFolder(path)) return t;
  fs::recursive_directory_iterator it(path, ec);
  for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
    if (Clock::now() > until) return std::nullopt;
    examine(it->path(), it->symlink_status(ec).type());
    if (auto age = ageSeconds(it->path())) t.youngest = std::min(t.youngest, *age);
    if (t.inUse || t.youngest <= minimum) return t;
  }
  if (ec) return std::nullopt;  // a part could not be read: not known to be old
  return t;
}

std::optional<Entry> tempFiles(const Search& s) {
  // The macOS exceptions, and their Linux counterparts: what the session and
  // the system keep in /tmp for as long as they run.
  static const std::array<const char*, 12> kKept{
      "com.apple.", "TemporaryItems", "systemd-private-", "snap-private-tmp", ".X",    ".ICE-unix",
      ".font-unix", ".XIM-unix",      ".Test-unix",       "krb5cc",           "tmux-", "ssh-"};
  auto e = entry("temp-files", "Temporary files older than 3 days", "Временные файлы старше 3 дней",
                 Removal::delete_, true, "nothing: apps make new ones when needed",
                 "ничего: программы создадут новые, когда понадобится", s.places.temporary);
  e.owner = s.places.user;
  auto locked = platform::lockedFiles(platform::Roots::system());
  std::vector<fs::path> found;
  for (const auto& p : entriesOf(s.places.temporary)) {
    auto name = fileName(p);
    if (std::any_of(kKept.begin(), kKept.end(),
                    [&](const char* kept) { return name.starts_with(kept); }))
      continue;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(p, ec)) || platform::ownerOf(p) != s.places.user)
      continue;
    // Old as a whole: nothing in it changed for 3 days, and nothing in it is
    // in use (a running session's socket or pipe, a file held locked).
    auto age = treeAge(p, locked, 3 * kDay, s.until);
    if (age && age->youngest > 3 * kDay && !age->inUse) found.push_back(p);
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

std::optional<Entry> oldLogs(const Search& s) {
  auto e =
      entry("old-logs", "Logs and crash reports older than 30 days",
            "Журналы и отчёты о сбоях старше 30 дней", Removal::delete_, true,
            "nothing: only old records go", "ничего: уходят только старые записи", s.places.home);
  std::vector<fs::path> found;
  struct Root {
    fs::path path;
    bool everyFile;  // every file counts (macOS's ~/Library/Logs)
  };
  std::set<fs::path> searched;
  for (const auto& root : {Root{s.places.home / "Library/Logs", true},
                           Root{s.places.stateHome, false}, Root{s.places.cacheHome, false}}) {
    auto normal = root.path.lexically_normal();
    if (!searched.insert(normal).second || !isRealFolder(normal)) continue;
    walk(normal, 8, s.until, [&](const fs::path& p, int) {
      if (!isRealFile(p)) return true;
      auto relative = p.lexically_relative(normal).string();
      auto age = ageSeconds(p);
      if ((root.everyFile || parsers::isLogFile(relative)) && age && *age > 30 * kDay)
        found.push_back(p);
      return true;
    });
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

std::optional<Entry> partialDownloads(const Search& s) {
  if (!s.userFolders) return std::nullopt;
  static const std::set<std::string> kinds{"crdownload", "download", "part", "opdownload",
                                           "partial"};
  auto e = entry("partial-downloads", "Unfinished downloads (older than a day)",
                 "Недокачанные загрузки (старше суток)", Removal::trash, true,
                 "moved to the Trash; start the download again if needed",
                 "уйдут в Корзину; при необходимости скачайте заново", s.places.home);
  std::vector<fs::path> found;
  for (const auto& p : entriesOf(s.places.downloads)) {
    auto ext = lower(p.extension().string());
    if (ext.size() < 2 || !kinds.count(ext.substr(1))) continue;
    auto age = ageSeconds(p);
    if (age && *age > kDay) found.push_back(p);
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

std::optional<fs::path> brewTool(const Context& context) {
  for (const auto& candidate : context.brewTools) {
    std::error_code ec;
    if (fs::exists(candidate, ec)) return candidate;
  }
  return std::nullopt;  // brew not found
}

const std::vector<std::string> kBrewEnvironment{"HOMEBREW_NO_AUTO_UPDATE=1",
                                                "HOMEBREW_NO_ENV_HINTS=1"};

std::optional<Entry> homebrewOld(const Search& s) {
  auto brew = brewTool(s.context);
  if (!brew) return std::nullopt;
  auto e = entry("homebrew-old", "Old Homebrew versions and downloads (brew cleanup)",
                 "Старые версии и загрузки Homebrew (brew cleanup)", Removal::command, true,
                 "the current versions stay", "текущие версии остаются", s.places.home);
  e.brew = brew;
  auto dry = platform::runTool({brew->string(), "cleanup", "--prune=all", "-n"}, kBrewEnvironment,
                               std::max(Clock::duration::zero(), s.until - Clock::now()));
  if (dry.succeeded()) {
    e.item.paths = parsers::brewRemovedPaths(dry.output);
    e.item.bytes = parsers::brewFreedBytes(dry.output);
    if (!e.item.bytes && e.item.paths.empty()) e.item.bytes = 0;
  }
  return e;
}

std::optional<Entry> deviceSupport(const Search& s) {
  auto e = entry("device-support", "Device symbols of old iOS / watchOS versions",
                 "Символы устройств старых версий iOS / watchOS", Removal::delete_, true,
                 "the two newest versions per platform stay; older ones are copied again if such "
                 "a device connects",
                 "две новейшие версии на платформу остаются; старые скопируются снова, если "
                 "подключить такое устройство",
                 s.places.home);
  std::vector<fs::path> found;
  for (const char* platform : {"iOS", "watchOS", "tvOS", "visionOS"}) {
    auto folder =
        s.places.home / "Library/Developer/Xcode" / (std::string(platform) + " DeviceSupport");
    std::vector<std::pair<std::vector<int64_t>, fs::path>> versions;
    for (const auto& p : entriesOf(folder))
      if (isRealFolder(p))
        if (auto v = parsers::versionNumbers(fileName(p)); !v.empty()) versions.push_back({v, p});
    std::sort(versions.begin(), versions.end(), [](const auto& a, const auto& b) {
      int c = parsers::compareVersions(a.first, b.first);
      return c != 0 ? c > 0 : a.second < b.second;
    });
    for (size_t i = 2; i < versions.size(); ++i) found.push_back(versions[i].second);
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

std::optional<Entry> oldSimulatorRuntimes(const Search& s) {
  std::error_code ec;
  if (!fs::exists(s.context.xcrun, ec)) return std::nullopt;
  auto listed = platform::runTool({s.context.xcrun.string(), "simctl", "runtime", "list", "-j"}, {},
                                  std::max(Clock::duration::zero(), s.until - Clock::now()));
  if (!listed.succeeded()) return std::nullopt;
  auto old =
      parsers::oldRuntimes(parsers::runtimes(listed.output), std::chrono::system_clock::now());
  if (old.empty()) return std::nullopt;
  auto e = entry("old-simulator-runtimes", "Old simulator runtimes (iOS, watchOS…)",
                 "Старые среды симуляторов (iOS, watchOS…)", Removal::command, false,
                 "download again in Xcode → Settings → Components if needed",
                 "при необходимости скачайте снова в Xcode → Settings → Components", s.places.home);
  int64_t bytes = 0;
  for (const auto& r : old) {
    e.runtimeIDs.push_back(r.id);
    bytes += r.bytes;
  }
  e.item.bytes = bytes;
  return e;
}

std::vector<int64_t> appVersion(const Uninstall::App& app) {
  if (app.version)
    if (auto v = parsers::versionNumbers(*app.version); !v.empty()) return v;
  if (auto v = parsers::versionNumbers(fs::path(app.path).filename().string()); !v.empty())
    return v;
  return parsers::versionNumbers(app.path);
}

std::optional<Entry> oldAppVersions(const Search& s) {
  auto e = entry("old-app-versions", "Older copies of installed apps",
                 "Старые копии установленных программ", Removal::trash, false,
                 "moved to the Trash; the newest copy stays",
                 "уйдут в Корзину; новейшая копия остаётся", s.places.home);
  auto apps = s.context.apps;
  if (s.userFolders) {
    apps.places.appFolders.push_back(s.places.downloads);
    apps.places.appFolders.push_back(s.places.desktop);
  }
  // Copies of one app share its name; a Flatpak app has one copy per
  // installation, which only flatpak itself may remove.
  std::map<std::string, std::vector<Uninstall::App>> byName;
  for (auto& i : Uninstall::installed(apps)) {
    if (i.kind != platform::BundleKind::appImage && i.kind != platform::BundleKind::folder)
      continue;
    byName[lower(i.app.name)].push_back(std::move(i.app));
  }
  std::vector<fs::path> found;
  for (auto& [name, copies] : byName) {
    if (copies.size() < 2) continue;
    std::sort(copies.begin(), copies.end(), [](const auto& a, const auto& b) {
      int c = parsers::compareVersions(appVersion(a), appVersion(b));
      return c != 0 ? c > 0 : a.path < b.path;
    });
    for (size_t i = 1; i < copies.size(); ++i)
      if (!copies[i].running) found.push_back(copies[i].path);
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

// Whether a link in `folder` points at `target` or into it.
bool linkedFrom(const fs::path& folder, const fs::path& target) {
  for (const auto& p : entriesOf(folder)) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) continue;
    auto to = fs::read_symlink(p, ec);
    if (ec) continue;
    if (to.is_relative()) to = folder / to;
    auto rel = to.lexically_normal().lexically_relative(target);
    if (!rel.empty() && *rel.begin() != "..") return true;
  }
  return false;
}

std::optional<Entry> oldToolVersions(const Search& s) {
  // Folders that hold no tool's versions: other apps' data and sandboxes, and
  // here also the Trash, this product's store, Flatpak's installation and
  // container images.
  static const std::set<std::string> kSkipped{
      "Containers", "Group Containers", "MobileSync",  "node_modules",
      "Google",     "Microsoft",        "AddressBook", "Trash",
      "ZemraNorvo", "flatpak",          "containers"};
  auto e = entry("old-tool-versions", "Old versions kept by tools and apps (e.g. Claude Code)",
                 "Старые версии, которые хранят программы (например, Claude Code)",
                 Removal::delete_, false, "the newest version and any version in use stay",
                 "новейшая версия и те, что сейчас работают, остаются", s.places.home);
  std::vector<fs::path> linkFolders{s.places.home / ".local/bin", s.places.home / "bin"};
  std::vector<fs::path> found;
  auto sideBySide = [&](const fs::path& folder) {
    std::vector<std::pair<std::vector<int64_t>, fs::path>> versions;
    for (const auto& p : entriesOf(folder)) {
      auto name = fileName(p);
      if ((isRealFolder(p) || isRealFile(p)) && parsers::isVersionName(name))
        versions.push_back({parsers::versionNumbers(name), p});
    }
    if (versions.size() < 2) return;
    std::sort(versions.begin(), versions.end(), [](const auto& a, const auto& b) {
      int c = parsers::compareVersions(a.first, b.first);
      return c != 0 ? c > 0 : a.second < b.second;
    });
    for (size_t i = 1; i < versions.size(); ++i) {
      const auto& p = versions[i].second;
      bool inUse = runsFrom(p, s.readings) || linkedFrom(folder, p);
      for (const auto& links : linkFolders) inUse = inUse || linkedFrom(links, p);
      if (!inUse) found.push_back(p);
    }
  };
  std::set<fs::path> searched;
  for (const auto& root :
       {s.places.home / "Library/Application Support", s.places.dataHome, s.places.cacheHome}) {
    auto normal = root.lexically_normal();
    if (!searched.insert(normal).second || !isRealFolder(normal)) continue;
    walk(normal, 4, s.until, [&](const fs::path& p, int) {
      auto name = fileName(p);
      if (kSkipped.count(name) || !isRealFolder(p) || parsers::isVersionName(name)) return false;
      sideBySide(p);
      return true;
    });
  }
  setPaths(e, found);
  if (e.item.paths.empty()) return std::nullopt;
  return e;
}

using Builder = std::optional<Entry> (*)(const Search&);

// The computed items in their order, each with its busy set.
struct Computed {
  Builder build;
  std::set<std::string> busy;
};
const std::array<Computed, 11>& computedItems() {
  static const std::array<Computed, 11> table{{
      {unavailableSimulators, kSimulatorTools},
      {installers, {}},
      {projectBuildFolders, kPackageTools},
      {tempFiles, {}},
      {oldLogs, {}},
      {partialDownloads, {}},
      {homebrewOld, {"brew"}},
      {deviceSupport, {"Xcode"}},
      {oldSimulatorRuntimes, kSimulatorTools},
      {oldAppVersions, {}},
      {oldToolVersions, {}},
  }};
  return table;
}

void markBusy(Item& item, const std::set<std::string>& busy, const std::set<std::string>& running) {
  if (auto name = busyName(busy, running)) {
    item.skipped = *name + " is running";
    item.skippedRu = "сейчас работает " + *name;
  }
}

}  // namespace

const std::vector<Target>& fixedTargets() {
  static const std::vector<Target> table{
      {"xcode-derived-data",
       "Xcode DerivedData",
       "Xcode DerivedData",
       {"~/Library/Developer/Xcode/DerivedData"},
       Removal::contents,
       "rebuilt by the next build (first build is slower)",
       "пересоберётся при следующей сборке (первая будет дольше)",
       true,
       kBuildTools},
      {"simulator-caches",
       "Simulator caches",
       "Кэши симуляторов",
       {"~/Library/Developer/CoreSimulator/Caches"},
       Removal::contents,
       "regenerated",
       "создаются заново",
       true,
       kSimulatorTools},
      {"swiftpm-cache",
       "Swift package cache",
       "Кэш пакетов Swift",
       {"$XDG_CACHE_HOME/org.swift.swiftpm"},
       Removal::contents,
       "packages are downloaded again on the next resolve",
       "пакеты скачаются заново",
       true,
       kBuildTools},
      {"cocoapods-cache",
       "CocoaPods cache",
       "Кэш CocoaPods",
       {"$XDG_CACHE_HOME/CocoaPods"},
       Removal::contents,
       "pods are downloaded again",
       "поды скачаются заново",
       true,
       {"pod"}},
      {"homebrew-cache",
       "Homebrew downloads",
       "Загрузки Homebrew",
       {"$XDG_CACHE_HOME/Homebrew"},
       Removal::contents,
       "downloaded again only if a package is reinstalled",
       "скачаются, только если переустановить пакет",
       true,
       {"brew"}},
      {"npm-cache",
       "npm cache",
       "Кэш npm",
       {"~/.npm/_cacache"},
       Removal::contents,
       "packages are downloaded again on install",
       "пакеты скачаются при установке",
       true,
       {"npm"}},
      // Yarn names its cache folder in lower case outside macOS.
      {"yarn-cache",
       "Yarn cache",
       "Кэш Yarn",
       {"$XDG_CACHE_HOME/yarn"},
       Removal::contents,
       "packages are downloaded again on install",
       "пакеты скачаются при установке",
       true,
       {"yarn"}},
      {"pip-cache",
       "pip cache",
       "Кэш pip",
       {"$XDG_CACHE_HOME/pip"},
       Removal::contents,
       "packages are downloaded again on install",
       "пакеты скачаются при установке",
       true,
       {"pip", "pip3"}},
      {"go-build-cache",
       "Go build cache",
       "Кэш сборки Go",
       {"$XDG_CACHE_HOME/go-build"},
       Removal::contents,
       "rebuilt by the next build",
       "пересоберётся",
       true,
       {"go"}},
      {"gradle-cache",
       "Gradle caches",
       "Кэши Gradle",
       {"~/.gradle/caches"},
       Removal::contents,
       "dependencies are downloaded again",
       "зависимости скачаются заново",
       true,
       {"java", "gradle"}},
      {"huggingface-models",
       "Downloaded AI models (Hugging Face)",
       "Скачанные модели AI (Hugging Face)",
       {"~/.cache/huggingface"},
       Removal::contents,
       "downloaded again on next use (can be many GB)",
       "скачаются заново при использовании (могут быть десятки ГБ)",
       false,
       {"python", "python3", "Python"}},
  };
  return table;
}

fs::path resolve(const std::string& folder, const Places& places) {
  static const std::string cache = "$XDG_CACHE_HOME";
  if (folder.starts_with(cache)) return places.cacheHome / folder.substr(cache.size() + 1);
  return places.expand(folder);
}

std::set<std::string> runningNames(const ProcessReadings& readings, uint32_t user) {
  std::set<std::string> names;
  for (const auto& [pid, r] : readings) {
    if (r.uid != user) continue;
    for (const auto& n : {r.name, r.command, fs::path(r.path).filename().string(),
                          fs::path(r.executable).filename().string()})
      if (!n.empty()) names.insert(n);
  }
  return names;
}

std::optional<std::string> busyName(const std::set<std::string>& busy,
                                    const std::set<std::string>& running) {
  for (const auto& name : busy)  // a std::set is sorted
    if (running.count(name)) return name;
  return std::nullopt;
}

std::vector<Entry> compute(const NorvoConfig& config, bool userFolders, Clock::time_point search,
                           const Context& context) {
  const auto& places = context.places;
  auto readings = context.readProcesses ? context.readProcesses() : ProcessReadings{};
  auto running = runningNames(readings, places.user);

  std::vector<Entry> out;
  for (const auto& target : fixedTargets()) {
    Entry e = entry(target.id, target.title, target.titleRu, target.removal, target.recommended,
                    target.after, target.afterRu, places.home);
    std::vector<fs::path> kept;
    for (const auto& folder : target.folders) {
      auto path = resolve(folder, places);
      std::error_code ec;
      if (isRealFolder(path) && safePath(path, places.home) && !fs::is_empty(path, ec) && !ec)
        kept.push_back(path);
    }
    setPaths(e, kept);
    if (e.item.paths.empty()) continue;
    markBusy(e.item, target.busy, running);
    out.push_back(std::move(e));
  }

  // The searches are independent and mostly wait on the disk or on a tool.
  Search s{config, context, places, userFolders, readings, search};
  std::vector<std::future<std::optional<Entry>>> searches;
  for (const auto& c : computedItems())
    searches.push_back(std::async(std::launch::async, c.build, std::cref(s)));
  for (size_t i = 0; i < searches.size(); ++i) {
    auto found = searches[i].get();
    if (!found) continue;
    markBusy(found->item, computedItems()[i].busy, running);
    out.push_back(std::move(*found));
  }
  return out;
}

void measure(std::vector<Entry>& entries, Clock::time_point deadline) {
  std::vector<std::thread> tasks;
  for (auto& e : entries) {
    // Sizes that came with the entry (a dry run, the runtime list) stay.
    if (e.item.bytes || e.brew) continue;
    tasks.emplace_back([&e, deadline] {
      int64_t total = 0;
      for (const auto& path : e.item.paths) {
        std::vector<fs::path> parts{path};
        if (e.item.removal == Removal::contents) parts = entriesOf(path);
        for (const auto& part : parts) {
          auto bytes = platform::measureBytes(part, deadline);
          if (!bytes) return;
          total += *bytes;
        }
      }
      e.item.bytes = total;
    });
  }
  for (auto& t : tasks) t.join();
}

}  // namespace norvo::Cleanup::catalogue
