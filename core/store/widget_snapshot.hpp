// The small record the desktop widget draws, already reduced from one sample
// (the volumes, the four heaviest app groups, one network interface), so the
// widget never measures or judges anything itself.
//
// It lives as "widget.json" in the app-group container that the sampling loop
// and the widget share. On Linux that container is a folder named after the app
// group identifier next to the store directory, under the user's data folder:
// $XDG_DATA_HOME/KXT481WBE3.com.vadro.ZemraNorvo/ (by default
// ~/.local/share/KXT481WBE3.com.vadro.ZemraNorvo/). Any process of the same user
// reaches it, which is all a shared container needs to be here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/assess/assessment.hpp"
#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/record_file.hpp"
#include "core/records/json_codec.hpp"
#include "core/records/network_connection.hpp"

namespace norvo {

struct WidgetSnapshot {
  struct Disk {
    std::string name;
    int64_t freeBytes = 0;
    int64_t totalBytes = 0;
    bool external = false;  // every volume other than the boot volume

    friend bool operator==(const Disk&, const Disk&) = default;
  };

  struct App {
    std::string name;
    std::string bundlePath;
    double cpuPercent = 0;  // percent of one core, whole group
    uint64_t memoryBytes = 0;
    bool ai = false;  // the group is an AI agent app

    friend bool operator==(const App&, const App&) = default;
  };

  Date date{};
  LoadLevel level = LoadLevel::ok;
  std::optional<int64_t> health;
  double cpu = 0;  // 0…1
  uint64_t memoryUsed = 0;
  uint64_t memoryTotal = 0;
  std::string pressure = "normal";
  uint64_t swapBytes = 0;
  std::optional<double> cpuCelsius;
  int64_t jobs = 0;
  std::vector<Disk> disks;  // boot volume first, then the others in sampled order
  std::vector<App> apps;    // at most four
  std::optional<NetworkConnection> network;

  WidgetSnapshot() = default;

  // Reduces one sample: disks with the boot volume first, the primary (else the
  // first) network connection, the first four app groups.
  explicit WidgetSnapshot(const NorvoSnapshot& snapshot);

  // "KXT481WBE3.com.vadro.ZemraNorvo".
  static const char* const appGroup;

  // The container folder for an explicit environment: beside the store
  // directory under the same data folder (see NorvoStore::directoryFor).
  static std::filesystem::path containerFor(const char* xdgDataHome, const char* home);

  // The shared container of this process (computed once, not created).
  static std::optional<std::filesystem::path> container();

  // container()/"widget.json"; absent when there is no container.
  static std::optional<std::filesystem::path> url();

  // Writes the record atomically to url(), creating the folder. Errors are
  // returned: a failed save leaves the previous record in place.
  record_file::Written save() const;
  record_file::Written save(const std::filesystem::path& file) const;

  // The record at url(); absent when the file is missing, unreadable or not a
  // whole widget record (missing required key, unknown level text).
  static std::optional<WidgetSnapshot> load();
  static std::optional<WidgetSnapshot> load(const std::filesystem::path& file);

  friend bool operator==(const WidgetSnapshot&, const WidgetSnapshot&) = default;
};

void to_json(nlohmann::json& j, const WidgetSnapshot::Disk& d);
void from_json(const nlohmann::json& j, WidgetSnapshot::Disk& d);
void to_json(nlohmann::json& j, const WidgetSnapshot::App& a);
void from_json(const nlohmann::json& j, WidgetSnapshot::App& a);
void to_json(nlohmann::json& j, const WidgetSnapshot& w);
void from_json(const nlohmann::json& j, WidgetSnapshot& w);

}  // namespace norvo
