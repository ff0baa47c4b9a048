#include "core/disk/disk_access.hpp"

#include <cerrno>
#include <cstring>

#include "core/platform/record_file.hpp"
#include "core/records/record_fields.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::DiskUsage {

namespace {

constexpr auto grantFields =
    record_fields::list(record_fields::field("fullDiskAccess", &Grants::fullDiskAccess),
                        record_fields::field("allowed", &Grants::allowed));

}  // namespace

void to_json(nlohmann::json& j, const Grants& g) { grantFields.write(j, g); }
void from_json(const nlohmann::json& j, Grants& g) { grantFields.read(j, g); }

std::filesystem::path grantsFile(const std::filesystem::path& storeDir) {
  return storeDir / "disk-access.json";
}

Grants readGrants(const std::filesystem::path& storeDir) {
  return record_file::read<Grants>(grantsFile(storeDir), record_file::Links::refuse)
      .value_or(Grants{});
}

bool writeGrants(const Grants& grants, const std::filesystem::path& storeDir, std::string& error) {
  errno = 0;
  if (record_file::write(grants, grantsFile(storeDir))) return true;
  error = "cannot write " + grantsFile(storeDir).string() + ": " +
          (errno ? std::strerror(errno) : "unknown error");
  return false;
}

Access currentAccess(const std::filesystem::path& storeDir) {
  Grants g = readGrants(storeDir);
  return {g.fullDiskAccess, NorvoStore::scanUserFolders(storeDir), g.allowed};
}

bool hasFullDiskAccess(const std::filesystem::path& storeDir) {
  return readGrants(storeDir).fullDiskAccess;
}

}  // namespace norvo::DiskUsage
