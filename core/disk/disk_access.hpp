// The owner's leave for the scanner, kept in the store: the user folders
// (the store's shared `scanUserFolders` flag), every protected folder at once,
// and protected folders one by one. Agents only read it.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "core/disk/disk_report.hpp"

namespace norvo::DiskUsage {

struct Grants {
  bool fullDiskAccess = false;
  std::set<std::string> allowed;

  friend bool operator==(const Grants&, const Grants&) = default;
};
void to_json(nlohmann::json& j, const Grants& g);
void from_json(const nlohmann::json& j, Grants& g);

// The grant file in the store directory.
std::filesystem::path grantsFile(const std::filesystem::path& storeDir);

// No file, or one that does not decode, grants nothing.
Grants readGrants(const std::filesystem::path& storeDir);
// False with `error` set (and nothing changed) when the file cannot be written.
bool writeGrants(const Grants& grants, const std::filesystem::path& storeDir, std::string& error);

// What a scan may enter now.
Access currentAccess(const std::filesystem::path& storeDir);

// Whether the whole-disk grant was given.
bool hasFullDiskAccess(const std::filesystem::path& storeDir);

}  // namespace norvo::DiskUsage
