#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "core/platform/app_bundle_source.hpp"
#include "core/platform/linux/app_bundle_parsers.hpp"
#include "core/platform/linux/text_file.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

namespace {

fs::path xdgOr(const char* variable, const fs::path& fallback) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  return fallback;
}

std::optional<struct stat> statNoFollow(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::optional<Date> accessTime(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return Date(std::chrono::duration_cast<Date::duration>(
      std::chrono::seconds(st.st_atim.tv_sec) + std::chrono::nanoseconds(st.st_atim.tv_nsec)));
}

// A Flatpak installation's apps: app/APP-ID/current/active is the deployed
// commit, with the app's "metadata", its exported desktop entry and its
// AppStream data. Runtimes live in runtime/ and are not apps.
void addFlatpaks(const fs::path& installation, BundleKind kind, std::vector<AppBundle>& out) {
  for (const auto& id : listNames(installation / "app")) {
    auto active = installation / "app" / id / "current" / "active";
    std::error_code ec;
    if (!fs::is_regular_file(active / "metadata", ec)) continue;
    AppBundle b;
    b.kind = kind;
    b.path = (installation / "app" / id).string();
    b.name = id;
    b.bundleID = id;
    for (const char* where : {"files/share/metainfo/", "files/share/appdata/"}) {
      for (const char* ext : {".metainfo.xml", ".appdata.xml"}) {
        if (b.version) break;
        if (auto xml = text_file::readText(active / (where + id + ext)))
          b.version = parse::metainfoVersion(*xml);
      }
    }
    if (auto text = text_file::readText(active / "export/share/applications" / (id + ".desktop")))
      if (auto entry = parse::desktopEntry(*text)) b.displayName = entry->name;
    // `flatpak run` reads the deployed metadata at every start.
    b.lastUsed = accessTime(active / "metadata");
    out.push_back(std::move(b));
  }
}

bool isBelow(const fs::path& folder, const fs::path& path) {
  auto rel = path.lexically_normal().lexically_relative(folder.lexically_normal());
  return !rel.empty() && *rel.begin() != ".." && rel != ".";
}

void addAppImage(const fs::path& path, std::vector<AppBundle>& out) {
  auto parsed = parse::appImageName(path.filename().string());
  auto st = statNoFollow(path);
  if (!parsed || !st || !S_ISREG(st->st_mode)) return;
  AppBundle b;
  b.kind = BundleKind::appImage;
  b.path = path.string();
  b.name = parsed->name;
  b.version = parsed->version;
  b.lastUsed = accessTime(path);
  out.push_back(std::move(b));
}

}  // namespace

AppPlaces AppPlaces::under(const fs::path& home, const fs::path& systemFlatpak) {
  AppPlaces p;
  p.home = home;
  p.dataHome = home / ".local/share";
  p.configHome = home / ".config";
  p.cacheHome = home / ".cache";
  p.stateHome = home / ".local/state";
  p.systemFlatpak = systemFlatpak;
  p.appFolders = {home / "Applications", home / ".local/bin", home / "Apps", home / ".local/opt"};
  return p;
}

AppPlaces AppPlaces::forUser(const Roots& roots) {
  AppPlaces p = under(roots.home, roots.var / "lib/flatpak");
  p.dataHome = xdgOr("XDG_DATA_HOME", p.dataHome);
  p.configHome = xdgOr("XDG_CONFIG_HOME", p.configHome);
  p.cacheHome = xdgOr("XDG_CACHE_HOME", p.cacheHome);
  p.stateHome = xdgOr("XDG_STATE_HOME", p.stateHome);
  return p;
}

std::vector<std::string> listNames(const fs::path& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  return names;
}

std::vector<AppBundle> listAppBundles(const AppPlaces& places) {
  std::vector<AppBundle> out;
  addFlatpaks(places.dataHome / "flatpak", BundleKind::flatpakUser, out);
  addFlatpaks(places.systemFlatpak, BundleKind::flatpakSystem, out);

  // AppImages directly in an app folder or in a folder of their own there.
  for (const auto& folder : places.appFolders) {
    for (const auto& name : listNames(folder)) {
      auto path = folder / name;
      auto st = statNoFollow(path);
      if (!st) continue;
      if (S_ISREG(st->st_mode)) {
        addAppImage(path, out);
      } else if (S_ISDIR(st->st_mode)) {
        for (const auto& inner : listNames(path)) addAppImage(path / inner, out);
      }
    }
  }

  // Desktop entries of the owner's that start a program in an app folder: the
  // AppImage they start gets them; any other program makes the top folder
  // holding it (or the program itself, directly in an app folder) an app.
  std::map<std::string, size_t> byPath;
  for (size_t i = 0; i < out.size(); ++i) byPath[out[i].path] = i;
  auto applications = places.dataHome / "applications";
  for (const auto& file : listNames(applications)) {
    if (file.size() <= 8 || file.compare(file.size() - 8, 8, ".desktop") != 0) continue;
    auto text = text_file::readText(applications / file, 256 * 1024);
    auto entry = text ? parse::desktopEntry(*text) : std::nullopt;
    auto program = entry && entry->exec ? parse::execProgram(*entry->exec) : std::nullopt;
    if (!program || (*program)[0] != '/') continue;
    fs::path programPath = fs::path(*program).lexically_normal();
    std::optional<fs::path> top;
    for (const auto& folder : places.appFolders) {
      if (!isBelow(folder, programPath)) continue;
      top = folder / *programPath.lexically_relative(folder.lexically_normal()).begin();
      break;
    }
    if (!top) continue;
    auto entryPath = (applications / file).string();
    auto known = byPath.find(programPath.string());
    if (known == byPath.end()) known = byPath.find(top->string());
    if (known != byPath.end()) {
      auto& b = out[known->second];
      b.desktopEntries.push_back(entryPath);
      if (!b.displayName) b.displayName = entry->name;
      continue;
    }
    auto st = statNoFollow(*top);
    if (!st || !(S_ISDIR(st->st_mode) || S_ISREG(st->st_mode))) continue;
    AppBundle b;
    b.kind = BundleKind::folder;
    b.path = top->string();
    b.name = top->filename().string();
    b.bundleID = file.substr(0, file.size() - 8);
    b.displayName = entry->name;
    b.lastUsed = accessTime(programPath);
    b.desktopEntries.push_back(entryPath);
    byPath[b.path] = out.size();
    out.push_back(std::move(b));
  }
  return out;
}

}  // namespace norvo::platform
