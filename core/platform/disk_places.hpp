// What the disk scanner needs to know about this machine beyond the files
// themselves: each mount point's file-system type and whether its drive is
// built in, and where the account keeps its XDG and user folders.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/platform/roots.hpp"

namespace norvo::platform {

struct VolumeDetail {
  std::string path;    // mount point
  std::string format;  // file-system type ("ext4", "btrfs", …)
  bool isInternal = true;
};

// From the mount table; a drive counts as external when the kernel marks it
// removable or it hangs off USB. Empty when the table cannot be read.
std::vector<VolumeDetail> volumeDetails(const Roots& roots);

// The raw sources of the account's folders; absent where unset or unreadable.
struct UserFolderSources {
  std::optional<std::string> cacheHome;   // $XDG_CACHE_HOME
  std::optional<std::string> dataHome;    // $XDG_DATA_HOME
  std::optional<std::string> configHome;  // $XDG_CONFIG_HOME
  std::optional<std::string> userDirs;    // text of <config>/user-dirs.dirs
};

UserFolderSources userFolderSources(const Roots& roots);

}  // namespace norvo::platform
