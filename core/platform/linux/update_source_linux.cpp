#include "core/platform/linux/text_file.hpp"
#include "core/platform/linux/update_source_parsers.hpp"
#include "core/platform/update_source.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

UpdateSource readUpdateSource(const fs::path& path,
                              const std::vector<std::string>& desktopEntries) {
  UpdateSource source;
  // A Flatpak app folder (INSTALLATION/app/ID): "current/active/deploy" names
  // the remote it came from, and the installation's repo/config that
  // remote's address. Its exported desktop entry may name an appcast too.
  auto active = path / "current" / "active";
  if (auto deploy = text_file::readText(active / "deploy")) {
    source.metadataRead = true;
    auto installation = path.parent_path().parent_path();
    if (auto origin = parse::flatpakOrigin(*deploy))
      if (auto config = text_file::readText(installation / "repo" / "config"))
        if (auto url = parse::remoteUrl(*config, *origin))
          source.fromStore = parse::isFlathub(*url);
    std::error_code ec;
    for (const auto& entry :
         fs::directory_iterator(active / "export" / "share" / "applications", ec)) {
      if (auto text = text_file::readText(entry.path()))
        if (auto feed = parse::desktopAppcast(*text)) source.feed = feed;
    }
  }
  for (const auto& entry : desktopEntries) {
    if (source.feed) break;
    if (auto text = text_file::readText(entry)) {
      source.metadataRead = true;
      source.feed = parse::desktopAppcast(*text);
    }
  }
  return source;
}

OSVersion systemVersion(const Roots& roots) {
  auto release = text_file::readLine(roots.proc / "sys" / "kernel" / "osrelease");
  return release ? parse::kernelVersion(*release) : OSVersion{};
}

}  // namespace norvo::platform
