#include "core/store/widget_snapshot.hpp"

#include <algorithm>
#include <cstdlib>

#include "core/measure/network.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"
#include "core/records/record_fields.hpp"

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

  network = Network::primary(s.sensors);

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

record_file::Written WidgetSnapshot::save() const {
  if (auto file = url()) return save(*file);
  return {"cannot write widget.json: no home folder to keep it in"};
}

record_file::Written WidgetSnapshot::save(const fs::path& file) const {
  return record_file::write(*this, file);
}

std::optional<WidgetSnapshot> WidgetSnapshot::load() {
  auto file = url();
  if (!file) return std::nullopt;
  return load(*file);
}

std::optional<WidgetSnapshot> WidgetSnapshot::load(const fs::path& file) {
  return record_file::read<WidgetSnapshot>(file);
}

constexpr auto diskFields =
    record_fields::list(record_fields::field("name", &WidgetSnapshot::Disk::name),
                        record_fields::field("freeBytes", &WidgetSnapshot::Disk::freeBytes),
                        record_fields::field("totalBytes", &WidgetSnapshot::Disk::totalBytes),
                        record_fields::field("external", &WidgetSnapshot::Disk::external));
void to_json(nlohmann::json& j, const WidgetSnapshot::Disk& d) { diskFields.write(j, d); }
void from_json(const nlohmann::json& j, WidgetSnapshot::Disk& d) { diskFields.read(j, d); }

constexpr auto appFields =
    record_fields::list(record_fields::field("name", &WidgetSnapshot::App::name),
                        record_fields::field("bundlePath", &WidgetSnapshot::App::bundlePath),
                        record_fields::field("cpuPercent", &WidgetSnapshot::App::cpuPercent),
                        record_fields::field("memoryBytes", &WidgetSnapshot::App::memoryBytes),
                        record_fields::field("ai", &WidgetSnapshot::App::ai));
void to_json(nlohmann::json& j, const WidgetSnapshot::App& a) { appFields.write(j, a); }
void from_json(const nlohmann::json& j, WidgetSnapshot::App& a) { appFields.read(j, a); }

constexpr auto widgetSnapshotFields =
    record_fields::list(record_fields::field("date", &WidgetSnapshot::date),
                        record_fields::field("level", &WidgetSnapshot::level),
                        record_fields::field("cpu", &WidgetSnapshot::cpu),
                        record_fields::field("memoryUsed", &WidgetSnapshot::memoryUsed),
                        record_fields::field("memoryTotal", &WidgetSnapshot::memoryTotal),
                        record_fields::field("pressure", &WidgetSnapshot::pressure),
                        record_fields::field("swapBytes", &WidgetSnapshot::swapBytes),
                        record_fields::field("jobs", &WidgetSnapshot::jobs),
                        record_fields::field("disks", &WidgetSnapshot::disks),
                        record_fields::field("apps", &WidgetSnapshot::apps),
                        record_fields::field("health", &WidgetSnapshot::health),
                        record_fields::field("cpuCelsius", &WidgetSnapshot::cpuCelsius),
                        record_fields::field("network", &WidgetSnapshot::network));
void to_json(nlohmann::json& j, const WidgetSnapshot& w) { widgetSnapshotFields.write(j, w); }
void from_json(const nlohmann::json& j, WidgetSnapshot& w) { widgetSnapshotFields.read(j, w); }

}  // namespace norvo
