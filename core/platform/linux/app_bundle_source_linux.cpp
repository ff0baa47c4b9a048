#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

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

// The files of theme icon `icon` in the owner's icon themes
// (THEME/SIZE/apps/NAME.EXT), or the file itself when the entry names one
// there. Links are never taken: an icon is a file the integration wrote.
std::vector<std::string> ownerIconFiles(const fs::path& iconsFolder, const std::string& icon) {
  std::vector<std::string> out;
  auto isFile = [](const fs::path& p) {
    auto st = statNoFollow(p);
    return st && S_ISREG(st->st_mode);
  };
  fs::path named(icon);
  if (named.is_absolute()) {
    auto normal = named.lexically_normal();
    if (isBelow(iconsFolder, normal) && isFile(normal)) out.push_back(normal.string());
    return out;
  }
  if (icon.empty() || icon.find('/') != std::string::npos || icon == "." || icon == "..")
    return out;
  for (const auto& theme : listNames(iconsFolder))
    for (const auto& size : listNames(iconsFolder / theme))
      for (const char* ext : {".png", ".svg", ".svgz", ".xpm"})
        if (auto file = iconsFolder / theme / size / "apps" / (icon + ext); isFile(file))
          out.push_back(file.string());
  std::sort(out.begin(), out.end());
  return out;
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

std::vector<AppBundle> listAppBundles(const AppPlaces& given) {
  // Without a home every folder below would be read relative to the working
  // folder; such places are left out rather than guessed.
  AppPlaces places = given;
  auto absoluteOnly = [](std::vector<fs::path>& folders) {
    std::erase_if(folders, [](const fs::path& f) { return !f.is_absolute(); });
  };
  absoluteOnly(places.appFolders);
  std::vector<AppBundle> out;
  if (places.dataHome.is_absolute())
    addFlatpaks(places.dataHome / "flatpak", BundleKind::flatpakUser, out);
  if (places.systemFlatpak.is_absolute())
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
  // holding it (or the program itself, directly in an app folder) an app. A
  // top folder that holds the programs of several entries in different
  // sub-folders is a suite ("~/.local/opt/JetBrains/idea", ".../pycharm"):
  // each sub-folder is then an app of its own, so one never takes the other.
  struct Launch {
    std::string entryPath, id;
    std::optional<std::string> name, icon;
    fs::path program, top;
    std::optional<fs::path> second;  // the sub-folder of `top` holding the program
  };
  std::vector<Launch> launches;
  // How many of the owner's entries name each icon: one named by two belongs
  // to neither alone.
  std::map<std::string, int> iconUsers;
  auto applications = places.dataHome / "applications";
  auto files = places.dataHome.is_absolute() ? listNames(applications) : std::vector<std::string>{};
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    if (file.size() <= 8 || file.compare(file.size() - 8, 8, ".desktop") != 0) continue;
    auto text = text_file::readText(applications / file, 256 * 1024);
    auto entry = text ? parse::desktopEntry(*text) : std::nullopt;
    if (entry && entry->icon) ++iconUsers[*entry->icon];
    auto program = entry && entry->exec ? parse::execProgram(*entry->exec) : std::nullopt;
    if (!program || (*program)[0] != '/') continue;
    Launch l{(applications / file).string(),
             file.substr(0, file.size() - 8),
             entry->name,
             entry->icon,
             fs::path(*program).lexically_normal(),
             {},
             std::nullopt};
    for (const auto& folder : places.appFolders) {
      if (!isBelow(folder, l.program)) continue;
      auto rel = l.program.lexically_relative(folder.lexically_normal());
      auto part = rel.begin();
      l.top = folder / *part;
      if (std::distance(rel.begin(), rel.end()) >= 3) l.second = l.top / *++part;
      break;
    }
    if (!l.top.empty()) launches.push_back(std::move(l));
  }
  std::map<fs::path, std::set<fs::path>> seconds;
  for (const auto& l : launches) seconds[l.top].insert(l.second.value_or(l.top));

  auto addIcons = [&](AppBundle& b, const Launch& l) {
    if (!l.icon || iconUsers[*l.icon] != 1) return;
    for (auto& file : ownerIconFiles(places.dataHome / "icons", *l.icon))
      b.icons.push_back(std::move(file));
  };
  std::map<std::string, size_t> byPath;
  for (size_t i = 0; i < out.size(); ++i) byPath[out[i].path] = i;
  for (const auto& l : launches) {
    auto bundle = seconds[l.top].size() > 1 && l.second ? *l.second : l.top;
    auto known = byPath.find(l.program.string());
    if (known == byPath.end()) known = byPath.find(bundle.string());
    if (known != byPath.end()) {
      auto& b = out[known->second];
      b.desktopEntries.push_back(l.entryPath);
      addIcons(b, l);
      if (!b.displayName) b.displayName = l.name;
      continue;
    }
    auto st = statNoFollow(bundle);
    if (!st || !(S_ISDIR(st->st_mode) || S_ISREG(st->st_mode))) continue;
    AppBundle b;
    b.kind = BundleKind::folder;
    b.path = bundle.string();
    b.name = bundle.filename().string();
    b.bundleID = l.id;
    b.displayName = l.name;
    b.lastUsed = accessTime(l.program);
    b.desktopEntries.push_back(l.entryPath);
    addIcons(b, l);
    byPath[b.path] = out.size();
    out.push_back(std::move(b));
  }
  return out;
}

}  // namespace norvo::platform
