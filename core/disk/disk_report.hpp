// What a disk measurement produces and hands between the product's processes:
// the folder tree, the volume, big files, what grew, the grant that shaped
// the scan and the whole report, with their JSON forms; plus the small tree
// operations the scan, the history and the owner's views share.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/disk/disk_advice.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::DiskUsage {

// Why a folder was not measured.
enum class Lock { privacy, noAccess };
const char* rawValue(Lock lock);
void to_json(nlohmann::json& j, Lock lock);
void from_json(const nlohmann::json& j, Lock& lock);

struct Node {
  std::string name;
  std::string path;
  int64_t bytes = 0;
  int64_t files = 0;
  std::vector<Node> children;  // largest first
  std::optional<Lock> lock;
  bool isFolder = true;
  int64_t recentBytes = 0;

  const std::string& id() const { return path; }
  friend bool operator==(const Node&, const Node&) = default;
};

struct BigFile {
  std::string path;
  int64_t bytes = 0;
  std::optional<Date> modified;

  friend bool operator==(const BigFile&, const BigFile&) = default;
};

struct Change {
  std::string path;
  std::string name;
  int64_t bytes = 0;

  friend bool operator==(const Change&, const Change&) = default;
};

struct Volume {
  std::string path;
  std::string name;
  int64_t totalBytes = 0;
  int64_t freeBytes = 0;
  int64_t purgeableBytes = 0;
  bool isStartup = false;
  bool isInternal = true;
  std::string format;

  int64_t usedBytes() const { return totalBytes - freeBytes; }
  friend bool operator==(const Volume&, const Volume&) = default;
};

// What a scan may enter.
struct Access {
  bool fullDiskAccess = false;
  bool userFolders = false;
  std::set<std::string> allowed;

  // Identifies the grant so that only scans made under the same one are
  // compared: "fda" or "-", then "+user", then the allowed paths joined by ",".
  std::string key() const;
  friend bool operator==(const Access&, const Access&) = default;
};

struct Report {
  Volume volume;
  Node root;
  std::vector<BigFile> bigFiles;
  std::vector<Advice> advice;
  std::vector<Node> skipped;
  bool fullDiskAccess = false;
  Date date{};
  double seconds = 0;
  bool complete = false;
  std::vector<Change> recent;
  std::optional<Date> recentSince;
  std::string accessKey;

  friend bool operator==(const Report&, const Report&) = default;
};

void to_json(nlohmann::json& j, const Node& v);
void from_json(const nlohmann::json& j, Node& v);
void to_json(nlohmann::json& j, const BigFile& v);
void from_json(const nlohmann::json& j, BigFile& v);
void to_json(nlohmann::json& j, const Change& v);
void from_json(const nlohmann::json& j, Change& v);
void to_json(nlohmann::json& j, const Volume& v);
void from_json(const nlohmann::json& j, Volume& v);
void to_json(nlohmann::json& j, const Report& v);
void from_json(const nlohmann::json& j, Report& v);

// Whether `path` is `folder` or lies below it.
bool isUnder(const std::string& path, const std::string& folder);
// The last path component; "/" for "/".
std::string lastComponent(const std::string& path);
// The folder holding `path` ("/" for a top-level entry).
std::string parentFolder(const std::string& path);

// The node at `path`, found by descending only into the child that is `path`
// or holds it; absent when there is none.
const Node* find(const std::string& path, const Node& node);

// Puts `sub` in place of the node with its path. Ancestors' bytes and recent
// bytes follow the change; their file counts stay as they were (the rescan's
// files are not comparable with the older count). False when the tree has no
// such node; the tree is then untouched.
bool graft(const Node& sub, Node& tree);

// path → bytes of every node reached with no lock and at least `minBytes`,
// `node` at level 0, descending while the level is below `depth`.
std::map<std::string, int64_t> sizeMap(const Node& node, int64_t minBytes, int depth);

// A fixed, plausible report for previews and screenshots; touches no disk.
Report sample(const std::string& home, Date now);

}  // namespace norvo::DiskUsage
