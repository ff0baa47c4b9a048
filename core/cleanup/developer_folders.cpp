#include "core/cleanup/developer_folders.hpp"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "core/disk/disk_scan.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::DiskReport {

namespace fs = std::filesystem;

namespace {

constexpr auto entryFields = record_fields::list(record_fields::field("path", &Entry::path),
                                                 record_fields::field("bytes", &Entry::bytes),
                                                 record_fields::field("note", &Entry::note));

std::string expand(const std::string& path, const DiskUsage::Places& places) {
  for (const auto& [token, place] : {std::pair<std::string, std::string>{"~", places.home},
                                     {"$XDG_CACHE_HOME", places.caches},
                                     {"$XDG_DATA_HOME", places.appData}})
    if (path == token || path.starts_with(token + "/")) return place + path.substr(token.size());
  return path;
}

}  // namespace

void to_json(nlohmann::json& j, const Entry& e) { entryFields.write(j, e); }
void from_json(const nlohmann::json& j, Entry& e) { entryFields.read(j, e); }

const std::vector<Folder>& folders() {
  static const std::vector<Folder> table{
      {"~/Library/Developer/Xcode/DerivedData", "Xcode build products; rebuilt on next build"},
      {"~/Library/Developer/CoreSimulator/Devices",
       "simulator devices; `xcrun simctl delete unavailable` removes stale ones"},
      {"~/Library/Developer/CoreSimulator/Caches", "simulator caches; regenerated"},
      {"~/Library/Developer/Xcode/iOS DeviceSupport",
       "device symbols; re-downloaded when a device connects"},
      {"~/Library/Developer/Xcode/watchOS DeviceSupport",
       "device symbols; re-downloaded when a device connects"},
      {"~/Library/Developer/Xcode/Archives", "app archives; keep the ones of released builds"},
      {"$XDG_CACHE_HOME", "app caches; mostly regenerated"},
      {"$XDG_CACHE_HOME/Homebrew", "Homebrew downloads; `brew cleanup`"},
      {"$XDG_DATA_HOME/pnpm/store", "pnpm store; `pnpm store prune`"},
      {"~/.npm/_cacache", "npm cache; `npm cache clean --force`"},
      {"$XDG_CACHE_HOME/pip", "pip cache; `pip cache purge`"},
      {"~/.cache/huggingface", "downloaded models; re-downloaded on use"},
      {"~/.ollama/models", "Ollama models; `ollama rm <model>`"},
      {"$XDG_DATA_HOME/Trash", "Trash; emptying it is the owner's decision"},
  };
  return table;
}

std::vector<Entry> measure(double timeout, const DiskUsage::Places& places) {
  std::vector<Entry> entries;
  for (const auto& f : folders()) {
    auto path = expand(f.path, places);
    std::error_code ec;
    if (fs::is_directory(path, ec)) entries.push_back(Entry{path, std::nullopt, f.note});
  }
  // The scanner counts what `du -sk` counts (allocated blocks, hard links
  // once, other file systems not entered) without a process per folder.
  DiskUsage::ScanSetup setup{places, {}, std::nullopt};
  DiskUsage::Access access{true, true, {}};
  DiskUsage::Volume volume{"/", "/", 0, 0, 0, true, true, ""};
  auto deadline = std::max(0.0, timeout);
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> tasks;
  for (auto& e : entries) {
    tasks.emplace_back([&, deadline, start] {
      double left = deadline -
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      DiskUsage::Progress progress;
      auto report = DiskUsage::scan(e.path, volume, access, std::max(0.0, left), progress, setup);
      if (report.complete && !report.root.lock) {
        e.bytes = report.root.bytes;
      } else if (!report.complete) {
        e.note += " (size not measured in time)";
      }
    });
  }
  for (auto& t : tasks) t.join();
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.bytes.value_or(0) > b.bytes.value_or(0);
  });
  return entries;
}

std::vector<Entry> measure(double timeout) {
  return measure(timeout, DiskUsage::placesFor(platform::Roots::system()));
}

}  // namespace norvo::DiskReport
