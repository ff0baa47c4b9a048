// What an installed app says about where its updates come from, and the
// running system's version for the apps' minimum-system rules.
// - An app of a Flatpak installation whose origin remote is Flathub was
//   installed from the app store: the origin plays the store receipt.
// - An app whose desktop entry names an appcast with "X-Appcast" has its own
//   feed, checked by the appcast rules.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"

namespace norvo::platform {

struct UpdateSource {
  bool metadataRead = false;         // a description of the app (metadata, desktop entry) was read
  std::optional<std::string> build;  // a build number, where the app states one
  bool fromStore = false;            // installed from Flathub
  std::optional<std::string> feed;   // the appcast address as written, any scheme
};

// Reads what the app at `path` (a Flatpak app folder, an AppImage, a program
// folder) and its desktop entries state. Never throws; what cannot be read
// stays empty.
UpdateSource readUpdateSource(const std::filesystem::path& path,
                              const std::vector<std::string>& desktopEntries);

// The kernel release (Roots::proc/sys/kernel/osrelease) as major, minor and
// patch: "6.1.0-18-amd64" gives 6, 1, 0. Missing numbers are 0; an unreadable
// release gives 0.0.0.
struct OSVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
};
OSVersion systemVersion(const Roots& roots);

}  // namespace norvo::platform
