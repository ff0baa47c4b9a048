#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/platform/disk_places.hpp"
#include "core/platform/record_file.hpp"

namespace norvo::platform {

namespace {

namespace fs = std::filesystem;

// Mount-table fields escape space, tab, newline and backslash as octal.
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      int value = 0;
      bool octal = true;
      for (size_t k = 1; k <= 3; ++k) {
        char c = field[i + k];
        if (c < '0' || c > '7') octal = false;
        value = value * 8 + (c - '0');
      }
      if (octal) {
        out.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::optional<std::string> readSmall(const fs::path& p) {
  return record_file::readWhole(p, 1024 * 1024);
}

bool isExternal(const Roots& roots, const std::string& device) {
  if (device.rfind("/dev/", 0) != 0) return false;
  std::error_code ec;
  fs::path dev = roots.dev / device.substr(5);
  fs::path resolved = fs::canonical(dev, ec);
  std::string name = ec ? dev.filename().string() : resolved.filename().string();
  fs::path block = fs::canonical(roots.sys / "class/block" / name, ec);
  if (ec) return false;
  if (block.string().find("/usb") != std::string::npos) return true;
  // A partition's removable flag lives on its disk, one folder up.
  for (const auto& folder : {block, block.parent_path()}) {
    if (auto flag = readSmall(folder / "removable")) return flag->rfind("1", 0) == 0;
  }
  return false;
}

std::optional<std::string> env(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

}  // namespace

std::vector<VolumeDetail> volumeDetails(const Roots& roots) {
  std::vector<VolumeDetail> out;
  auto table = readSmall(roots.proc / "self/mounts");
  if (!table) return out;
  std::istringstream lines(*table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, mount, type;
    if (!(fields >> device >> mount >> type)) continue;
    VolumeDetail d;
    d.path = unescapeMountField(mount);
    d.format = type;
    d.isInternal = !isExternal(roots, unescapeMountField(device));
    out.push_back(std::move(d));
  }
  return out;
}

UserFolderSources userFolderSources(const Roots& roots) {
  UserFolderSources s;
  s.cacheHome = env("XDG_CACHE_HOME");
  s.dataHome = env("XDG_DATA_HOME");
  s.configHome = env("XDG_CONFIG_HOME");
  fs::path config = s.configHome && fs::path(*s.configHome).is_absolute() ? fs::path(*s.configHome)
                                                                          : roots.home / ".config";
  s.userDirs = readSmall(config / "user-dirs.dirs");
  return s;
}

}  // namespace norvo::platform
