#include "core/store/widget_snapshot.hpp"

#include <algorithm>
#include <cstdlib>

#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"

namespace norvo {

namespace fs = std::filesystem;

const char* const WidgetSnapshot::appGroup = "KXT481WBE3.com.vadro.ZemraNorvo";

WidgetSnapshot::WidgetSnapshot(const NorvoSnapshot& s)
    : date(s.metrics.timestamp),
      level(s.assessment.level),
      cpu(s.metrics.cpu.usage),
      memoryUsed(s.metrics.memory.usedBytes),
      memoryTotal(s.metrics.memory.totalBytes),
      pressure(s.metrics.memory.pressure),
      swapBytes(s.metrics.memory.swapUsedBytes),
      jobs(s.assessment.recommendedParallelJobs) {
  if (s.health) health = s.health->score;
  if (s.sensors) cpuCelsius = s.sensors->cpuCelsius;

  auto boot = s.metrics.bootVolume();
  for (const auto& v : s.metrics.volumes)
    disks.push_back({v.name, v.freeBytes, v.totalBytes, !boot || v.path != boot->path});
  std::stable_partition(disks.begin(), disks.end(), [](const Disk& d) { return !d.external; });

  if (s.sensors && s.sensors->connections && !s.sensors->connections->empty()) {
    const auto& list = *s.sensors->connections;
    auto primary = std::find_if(list.begin(), list.end(), [](auto& c) { return c.primary; });
    network = primary != list.end() ? *primary : list.front();
  }

  for (size_t i = 0; i < s.apps.size() && i < 4; ++i) {
    const auto& g = s.apps[i];
    apps.push_back({g.name, g.bundlePath, g.cpuPercent, g.memoryBytes,
                    g.category == ProcessCategory::aiAgent});
  }
}

fs::path WidgetSnapshot::containerFor(const char* xdgDataHome, const char* home) {
  return NorvoStore::directoryFor(xdgDataHome, home).parent_path() / appGroup;
}

std::optional<fs::path> WidgetSnapshot::container() {
  static const fs::path dir = containerFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  return dir;
}

std::optional<fs::path> WidgetSnapshot::url() {
  auto dir = container();
  if (!dir) return std::nullopt;
  return *dir / "widget.json";
}

void WidgetSnapshot::save() const {
  if (auto file = url()) save(*file);
}

void WidgetSnapshot::save(const fs::path& file) const { record_file::write(*this, file); }

std::optional<WidgetSnapshot> WidgetSnapshot::load() {
  auto file = url();
  if (!file) return std::nullopt;
  return load(*file);
}

std::optional<WidgetSnapshot> WidgetSnapshot::load(const fs::path& file) {
  return record_file::read<WidgetSnapshot>(file);
}

void to_json(nlohmann::json& j, const WidgetSnapshot::Disk& d) {
  j = {{"name", d.name},
       {"freeBytes", d.freeBytes},
       {"totalBytes", d.totalBytes},
       {"external", d.external}};
}

void from_json(const nlohmann::json& j, WidgetSnapshot::Disk& d) {
  j.at("name").get_to(d.name);
  j.at("freeBytes").get_to(d.freeBytes);
  j.at("totalBytes").get_to(d.totalBytes);
  j.at("external").get_to(d.external);
}

void to_json(nlohmann::json& j, const WidgetSnapshot::App& a) {
  j = {{"name", a.name},
       {"bundlePath", a.bundlePath},
       {"cpuPercent", a.cpuPercent},
       {"memoryBytes", a.memoryBytes},
       {"ai", a.ai}};
}

void from_json(const nlohmann::json& j, WidgetSnapshot::App& a) {
  j.at("name").get_to(a.name);
  j.at("bundlePath").get_to(a.bundlePath);
  j.at("cpuPercent").get_to(a.cpuPercent);
  j.at("memoryBytes").get_to(a.memoryBytes);
  j.at("ai").get_to(a.ai);
}

void to_json(nlohmann::json& j, const WidgetSnapshot& w) {
  j = {{"date", w.date},
       {"level", w.level},
       {"cpu", w.cpu},
       {"memoryUsed", w.memoryUsed},
       {"memoryTotal", w.memoryTotal},
       {"pressure", w.pressure},
       {"swapBytes", w.swapBytes},
       {"jobs", w.jobs},
       {"disks", w.disks},
       {"apps", w.apps}};
  json_codec::putOptional(j, "health", w.health);
  json_codec::putOptional(j, "cpuCelsius", w.cpuCelsius);
  json_codec::putOptional(j, "network", w.network);
}

void from_json(const nlohmann::json& j, WidgetSnapshot& w) {
  j.at("date").get_to(w.date);
  j.at("level").get_to(w.level);
  j.at("cpu").get_to(w.cpu);
  j.at("memoryUsed").get_to(w.memoryUsed);
  j.at("memoryTotal").get_to(w.memoryTotal);
  j.at("pressure").get_to(w.pressure);
  j.at("swapBytes").get_to(w.swapBytes);
  j.at("jobs").get_to(w.jobs);
  j.at("disks").get_to(w.disks);
  j.at("apps").get_to(w.apps);
  json_codec::getOptional(j, "health", w.health);
  json_codec::getOptional(j, "cpuCelsius", w.cpuCelsius);
  json_codec::getOptional(j, "network", w.network);
}

}  // namespace norvo
