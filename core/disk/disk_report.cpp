#include "core/disk/disk_report.hpp"

#include <algorithm>

#include "core/platform/platform_words.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::DiskUsage {

namespace {

namespace rf = record_fields;

constexpr auto nodeFields =
    rf::list(rf::field("name", &Node::name), rf::field("path", &Node::path),
             rf::field("bytes", &Node::bytes), rf::field("files", &Node::files),
             rf::field("children", &Node::children), rf::field("lock", &Node::lock),
             rf::field("isFolder", &Node::isFolder), rf::field("recentBytes", &Node::recentBytes));

constexpr auto bigFileFields =
    rf::list(rf::field("path", &BigFile::path), rf::field("bytes", &BigFile::bytes),
             rf::field("modified", &BigFile::modified));

constexpr auto changeFields =
    rf::list(rf::field("path", &Change::path), rf::field("name", &Change::name),
             rf::field("bytes", &Change::bytes));

constexpr auto volumeFields = rf::list(
    rf::field("path", &Volume::path), rf::field("name", &Volume::name),
    rf::field("totalBytes", &Volume::totalBytes), rf::field("freeBytes", &Volume::freeBytes),
    rf::field("purgeableBytes", &Volume::purgeableBytes),
    rf::field("isStartup", &Volume::isStartup), rf::field("isInternal", &Volume::isInternal),
    rf::field("format", &Volume::format));

constexpr auto reportFields = rf::list(
    rf::field("volume", &Report::volume), rf::field("root", &Report::root),
    rf::field("bigFiles", &Report::bigFiles), rf::field("advice", &Report::advice),
    rf::field("skipped", &Report::skipped), rf::field("fullDiskAccess", &Report::fullDiskAccess),
    rf::field("date", &Report::date), rf::field("seconds", &Report::seconds),
    rf::field("complete", &Report::complete), rf::field("recent", &Report::recent),
    rf::field("recentSince", &Report::recentSince), rf::field("accessKey", &Report::accessKey));

}  // namespace

const char* rawValue(Lock lock) { return lock == Lock::privacy ? "privacy" : "noAccess"; }

void to_json(nlohmann::json& j, Lock lock) { j = rawValue(lock); }

void from_json(const nlohmann::json& j, Lock& lock) {
  auto text = j.get<std::string>();
  if (text == "privacy") {
    lock = Lock::privacy;
  } else if (text == "noAccess") {
    lock = Lock::noAccess;
  } else {
    throw nlohmann::json::type_error::create(302, "unknown lock " + text, &j);
  }
}

void to_json(nlohmann::json& j, const Node& v) { nodeFields.write(j, v); }
void from_json(const nlohmann::json& j, Node& v) { nodeFields.read(j, v); }
void to_json(nlohmann::json& j, const BigFile& v) { bigFileFields.write(j, v); }
void from_json(const nlohmann::json& j, BigFile& v) { bigFileFields.read(j, v); }
void to_json(nlohmann::json& j, const Change& v) { changeFields.write(j, v); }
void from_json(const nlohmann::json& j, Change& v) { changeFields.read(j, v); }
void to_json(nlohmann::json& j, const Volume& v) { volumeFields.write(j, v); }
void from_json(const nlohmann::json& j, Volume& v) { volumeFields.read(j, v); }
void to_json(nlohmann::json& j, const Report& v) { reportFields.write(j, v); }
void from_json(const nlohmann::json& j, Report& v) { reportFields.read(j, v); }

std::string Access::key() const {
  std::string k = fullDiskAccess ? "fda" : "-";
  if (userFolders) k += "+user";
  std::string joined;
  for (const auto& a : allowed) joined += (joined.empty() ? "" : ",") + a;  // set: sorted
  return k + joined;
}

bool isUnder(const std::string& path, const std::string& folder) {
  if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

std::string lastComponent(const std::string& path) {
  auto end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? "" : "/";
  auto start = path.rfind('/', end);
  return path.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

std::string parentFolder(const std::string& path) {
  auto end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  auto slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

const Node* find(const std::string& path, const Node& node) {
  const Node* at = &node;
  while (at) {
    if (at->path == path) return at;
    const Node* next = nullptr;
    for (const auto& c : at->children)
      if (c.path == path || path.rfind(c.path + "/", 0) == 0) {
        next = &c;
        break;
      }
    at = next;
  }
  return nullptr;
}

bool graft(const Node& sub, Node& tree) {
  if (tree.path == sub.path) {
    tree = sub;
    return true;
  }
  for (auto& c : tree.children) {
    if (c.path != sub.path && sub.path.rfind(c.path + "/", 0) != 0) continue;
    int64_t bytes = c.bytes, recent = c.recentBytes;
    if (!graft(sub, c)) return false;
    tree.bytes += c.bytes - bytes;
    tree.recentBytes += c.recentBytes - recent;
    return true;
  }
  return false;
}

namespace {

void collect(const Node& n, int64_t minBytes, int level, int depth,
             std::map<std::string, int64_t>& out) {
  if (n.lock || n.bytes < minBytes) return;
  out[n.path] = n.bytes;
  if (level >= depth) return;
  for (const auto& c : n.children) collect(c, minBytes, level + 1, depth, out);
}

}  // namespace

std::map<std::string, int64_t> sizeMap(const Node& node, int64_t minBytes, int depth) {
  std::map<std::string, int64_t> out;
  collect(node, minBytes, 0, depth, out);
  return out;
}

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

Node folder(const std::string& path, int64_t gib, std::vector<Node> children = {}) {
  Node n;
  n.name = lastComponent(path);
  n.path = path;
  n.bytes = gib * kGiB;
  n.files = gib * 9000;
  n.children = std::move(children);
  n.recentBytes = gib * kGiB / 20;
  std::sort(n.children.begin(), n.children.end(),
            [](const Node& a, const Node& b) { return a.bytes > b.bytes; });
  return n;
}

}  // namespace

Report sample(const std::string& home, Date now) {
  auto h = [&](const char* rel) { return home + "/" + rel; };
  Node developer = folder(h("Library/Developer"), 41,
                          {folder(h("Library/Developer/CoreSimulator"), 12,
                                  {folder(h("Library/Developer/CoreSimulator/Devices"), 11)}),
                           folder(h("Library/Developer/Xcode"), 28,
                                  {folder(h("Library/Developer/Xcode/DerivedData"), 12),
                                   folder(h("Library/Developer/Xcode/iOS DeviceSupport"), 9),
                                   folder(h("Library/Developer/Xcode/Archives"), 7)})});
  Node support = folder(h("Library/Application Support"), 24,
                        {folder(h("Library/Application Support/Slack"), 4),
                         folder(h("Library/Application Support/Google"), 7),
                         folder(h("Library/Application Support/MobileSync"), 11)});
  Node library =
      folder(h("Library"), 96,
             {developer, support, folder(h("Library/Caches"), 12),
              folder(h("Library/Containers"), 9), folder(h("Library/Mobile Documents"), 8)});
  Node pictures =
      folder(h("Pictures"), 48, {folder(h("Pictures/Photos Library.photoslibrary"), 46)});
  Node homeNode =
      folder(home, 212,
             {library, pictures, folder(h("Documents"), 18), folder(h("Desktop"), 4),
              folder(h("Movies"), 24), folder(h("Downloads"), 16), folder(h(".npm"), 4)});
  Node apps =
      folder("/Applications", 52,
             {folder("/Applications/Xcode.app", 12), folder("/Applications/Final Cut Pro.app", 8),
              folder("/Applications/Logic Pro.app", 9), folder("/Applications/Keynote.app", 4)});
  Node remainder;
  remainder.name = platform::diskWords().systemNode;
  remainder.path = "/System";
  remainder.bytes = 64 * kGiB;
  remainder.isFolder = false;

  Report r;
  r.volume = {"/", "Macintosh HD", 494 * kGiB, 166 * kGiB, 11 * kGiB, true, true, "APFS"};
  r.root = folder("/", 0, {homeNode, apps, remainder});
  r.root.name = "Macintosh HD";
  r.root.bytes = homeNode.bytes + apps.bytes + remainder.bytes;
  r.root.files = homeNode.files + apps.files;
  r.root.recentBytes = homeNode.recentBytes + apps.recentBytes;
  r.bigFiles = {{h("Movies/Trip 2026.mov"), 6 * kGiB, now - std::chrono::hours(24 * 90)},
                {h("Downloads/Installer.dmg"), 2 * kGiB, now - std::chrono::hours(24 * 40)}};
  r.fullDiskAccess = false;
  r.date = now;
  r.seconds = 34;
  r.complete = true;
  r.accessKey = Access{}.key();
  r.recent = {{h("Library/Developer/Xcode/DerivedData"), "DerivedData", 3 * kGiB},
              {h("Downloads"), "Downloads", 2 * kGiB}};
  Places places = Places::standard(home);
  r.advice = advise(r, places, 30);
  return r;
}

}  // namespace norvo::DiskUsage
