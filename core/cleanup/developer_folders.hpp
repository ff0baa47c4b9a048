// The developer and cache folders that typically hold many gigabytes, each
// measured with a note on what it is and how it can be reclaimed, so that an
// agent can tell the owner where space went without scanning the whole disk.
// Each folder of the macOS table is looked up at its counterpart here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/disk/disk_advice.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::DiskReport {

struct Entry {
  std::string path;                // "~" expanded
  std::optional<int64_t> bytes{};  // absent when not measured in time
  std::string note;

  friend bool operator==(const Entry&, const Entry&) = default;
};
void to_json(nlohmann::json& j, const Entry& e);
void from_json(const nlohmann::json& j, Entry& e);

struct Folder {
  // "~/…" below the home folder, "$XDG_CACHE_HOME/…" and "$XDG_DATA_HOME/…"
  // below the account's cache and data folders.
  std::string path;
  std::string note;
};

// The folder table, in its order, each row at its counterpart here.
const std::vector<Folder>& folders();

// The folders of the table that exist in `places`, measured in parallel (one
// task per folder, the disk scanner's count: allocated bytes, the same as
// `du -sk` × 1024), all with the deadline `timeout` seconds from now. A folder
// not measured by then has no size and its note ends in " (size not measured
// in time)". Largest first, an absent size counting as 0; equal sizes keep
// the table's order.
std::vector<Entry> measure(double timeout, const DiskUsage::Places& places);
// The same for this account.
std::vector<Entry> measure(double timeout);

}  // namespace norvo::DiskReport
