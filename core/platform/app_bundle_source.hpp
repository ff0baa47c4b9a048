// The apps a Linux owner has installed for themself, and the folders where apps
// keep their data, as plain values for the uninstaller. What counts as an app:
// - a Flatpak app of the user's or the system installation (the folder
//   app/APP-ID of the installation; the id is reverse-DNS like a bundle id);
// - an AppImage in one of the owner's app folders (the file is the bundle);
// - a program unpacked into the owner's app folders that a desktop entry in the
//   owner's applications folder starts (the top folder holding it is the bundle).
// Programs of the system package manager belong to the system and are not
// listed: removing them is the package manager's job.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::platform {

// Where one user's apps and app data live. `forUser` reads the XDG variables
// (absolute values only: XDG Base Directory says relative ones are invalid);
// tests fill the fields with folders of a temporary tree.
struct AppPlaces {
  std::filesystem::path home;
  std::filesystem::path dataHome;       // $XDG_DATA_HOME, ~/.local/share
  std::filesystem::path configHome;     // $XDG_CONFIG_HOME, ~/.config
  std::filesystem::path cacheHome;      // $XDG_CACHE_HOME, ~/.cache
  std::filesystem::path stateHome;      // $XDG_STATE_HOME, ~/.local/state
  std::filesystem::path systemFlatpak;  // the system installation, /var/lib/flatpak
  // The owner's app folders: ~/Applications, ~/.local/bin, ~/Apps, ~/.local/opt.
  std::vector<std::filesystem::path> appFolders;

  static AppPlaces forUser(const Roots& roots);
  // Every place below `home` at its default location, the system installation
  // at `systemFlatpak`.
  static AppPlaces under(const std::filesystem::path& home,
                         const std::filesystem::path& systemFlatpak);
};

enum class BundleKind { flatpakUser, flatpakSystem, appImage, folder };

// One installed app as found on disk.
struct AppBundle {
  BundleKind kind = BundleKind::appImage;
  std::string path;  // the Flatpak app folder, the AppImage file or the app's top folder
  std::string name;  // the bundle's file name without extension and version
  std::optional<std::string> bundleID;     // Flatpak app id or desktop file id
  std::optional<std::string> version;      // from the app's metadata or file name
  std::optional<std::string> displayName;  // "Name" of its desktop entry
  // When the desktop last started it, as far as the file system knows: the
  // access time of the file read at every start (the AppImage, the program, a
  // Flatpak app's "metadata"). Access times are updated lazily (relatime), so
  // this is exact to a day.
  std::optional<Date> lastUsed;
  // The desktop entries in the owner's applications folder that start it;
  // they are installed for the app and go with it.
  std::vector<std::string> desktopEntries;
  // The icon files in the owner's icon themes that those entries name and no
  // other entry does: an integration tool installs them with the entry
  // ("appimagekit_<hash>_example.png" at every size), and they go with it.
  std::vector<std::string> icons;
};

// Every app of the kinds above, in no particular order. Folders that cannot be
// read are skipped; never throws.
std::vector<AppBundle> listAppBundles(const AppPlaces& places);

// The entry names of a folder, without "." and ".."; empty when it cannot be
// read.
std::vector<std::string> listNames(const std::filesystem::path& folder);

}  // namespace norvo::platform
