#include "core/uninstall/leftover_rules.hpp"

#include <set>

namespace norvo::Uninstall {

namespace fs = std::filesystem;

namespace {

bool strictlyInside(const fs::path& path, const fs::path& folder) {
  auto rel = path.lexically_normal().lexically_relative(folder.lexically_normal());
  return !rel.empty() && *rel.begin() != ".." && rel != ".";
}

// Folders that several apps and the desktop share; an app named like one of
// them ("Trash.AppImage") must not take it along.
const std::set<std::string, std::less<>>& sharedNames() {
  static const std::set<std::string, std::less<>> names{
      "applications", "autostart",      "fonts",
      "flatpak",      "icons",          "mime",
      "systemd",      "trash",          "recently-used.xbel",
      "zemranorvo",   "user-dirs.dirs", "gtk-3.0",
      "gtk-4.0",      "dconf",          "keyrings"};
  return names;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool beginsWithId(std::string_view rest, std::string_view id) {
  return rest == id ||
         (rest.size() > id.size() && rest.substr(0, id.size()) == id && rest[id.size()] == '.');
}

std::string_view withoutEndings(std::string_view name) {
  for (auto ending : kIdEndings) {
    if (name.size() > ending.size() && name.substr(name.size() - ending.size()) == ending)
      name.remove_suffix(ending.size());
  }
  return name;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lowered(a) == lowered(b);
}

std::vector<LeftoverFolder> leftoverFolders(const fs::path& home, const fs::path& dataHome,
                                            const fs::path& configHome, const fs::path& cacheHome,
                                            const fs::path& stateHome) {
  std::vector<LeftoverFolder> candidates{
      {"", dataHome, true},
      {"", configHome, true},
      {"", cacheHome, true},
      {"", stateHome, true},
      {"", dataHome / "applications", false},
      {"", configHome / "autostart", false},
      {"", configHome / "systemd/user", false},
      {"", home / ".var/app", false},
  };
  std::vector<LeftoverFolder> out;
  for (auto& f : candidates) {
    if (!f.path.is_absolute() || !strictlyInside(f.path, home)) continue;
    f.path = f.path.lexically_normal();
    f.label = f.path.lexically_relative(home.lexically_normal()).string();
    out.push_back(std::move(f));
  }
  return out;
}

bool matchesIdentifier(std::string_view entryName, std::string_view id,
                       const std::vector<std::string>& otherIDs) {
  if (id.empty()) return false;
  auto rest = withoutEndings(entryName);
  if (!beginsWithId(rest, id)) return false;
  for (const auto& other : otherIDs)
    if (other.size() > id.size() && beginsWithId(rest, other)) return false;
  return true;
}

std::optional<LeftoverFolder> folderHolding(const fs::path& path,
                                            const std::vector<LeftoverFolder>& folders) {
  // The innermost one: desktop entries lie in .local/share/applications, which
  // lies in .local/share.
  std::optional<LeftoverFolder> best;
  for (const auto& f : folders)
    if (strictlyInside(path, f.path) &&
        (!best || f.path.native().size() > best->path.native().size()))
      best = f;
  return best;
}

std::vector<Leftover> findLeftovers(const LeftoverQuery& query, const std::vector<App>& others,
                                    const std::vector<LeftoverFolder>& folders,
                                    const FolderLister& list) {
  std::vector<Leftover> out;
  std::set<std::string> seen;
  auto add = [&](const fs::path& path, bool byName) {
    auto normal = path.lexically_normal();
    auto holder = folderHolding(normal, folders);
    if (!holder) return;
    // A data folder itself, or a folder holding one, is never an app's.
    for (const auto& f : folders)
      if (normal == f.path || strictlyInside(f.path, normal)) return;
    if (normal.parent_path() == holder->path &&
        sharedNames().count(lowered(normal.filename().string())))
      return;
    if (!seen.insert(normal.string()).second) return;
    out.push_back(Leftover{normal.string(), holder->label, std::nullopt, byName});
  };

  std::vector<std::string> otherIDs;
  std::set<std::string> otherNames;
  for (const auto& o : others) {
    if (o.path == query.app.path) continue;
    if (o.bundleID) otherIDs.push_back(*o.bundleID);
    otherNames.insert(lowered(o.name));
  }

  // Listed once per folder: both rules look at the same entries.
  std::vector<std::vector<std::string>> listings;
  for (const auto& f : folders) listings.push_back(list(f.path));

  if (query.app.bundleID) {
    for (size_t i = 0; i < folders.size(); ++i)
      for (const auto& entry : listings[i])
        if (matchesIdentifier(entry, *query.app.bundleID, otherIDs))
          add(folders[i].path / entry, false);
  }

  std::vector<std::pair<std::string, bool>> candidates{{query.app.name, false}};
  if (query.displayName) candidates.emplace_back(*query.displayName, true);
  for (const auto& [candidate, byName] : candidates) {
    if (candidate.size() <= 2 || otherNames.count(lowered(candidate))) continue;
    for (size_t i = 0; i < folders.size(); ++i) {
      if (!folders[i].byName) continue;
      for (const auto& entry : listings[i])
        if (equalsIgnoringCase(entry, candidate)) add(folders[i].path / entry, byName);
    }
  }

  for (const auto& entry : query.desktopEntries) add(entry, false);
  for (const auto& icon : query.icons) add(icon, false);
  return out;
}

}  // namespace norvo::Uninstall
