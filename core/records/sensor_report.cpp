#include "core/records/sensor_report.hpp"

namespace norvo {

using json_codec::getOptional;
using json_codec::putOptional;

void to_json(nlohmann::json& j, const FanInfo& f) {
  j = {{"id", f.id},
       {"rpm", f.rpm},
       {"minRPM", f.minRPM},
       {"maxRPM", f.maxRPM},
       {"manual", f.manual}};
  putOptional(j, "targetRPM", f.targetRPM);
}

void from_json(const nlohmann::json& j, FanInfo& f) {
  j.at("id").get_to(f.id);
  j.at("rpm").get_to(f.rpm);
  j.at("minRPM").get_to(f.minRPM);
  j.at("maxRPM").get_to(f.maxRPM);
  j.at("manual").get_to(f.manual);
  getOptional(j, "targetRPM", f.targetRPM);
}

void to_json(nlohmann::json& j, const SensorReport::Temperature& t) {
  j = {{"name", t.name}, {"celsius", t.celsius}};
}

void from_json(const nlohmann::json& j, SensorReport::Temperature& t) {
  j.at("name").get_to(t.name);
  j.at("celsius").get_to(t.celsius);
}

void to_json(nlohmann::json& j, const SensorReport::Battery& b) {
  j = {{"percent", b.percent}, {"charging", b.charging}, {"onAC", b.onAC}};
  putOptional(j, "minutesLeft", b.minutesLeft);
  putOptional(j, "cycleCount", b.cycleCount);
  putOptional(j, "healthPercent", b.healthPercent);
  putOptional(j, "celsius", b.celsius);
  putOptional(j, "adapterWatts", b.adapterWatts);
}

void from_json(const nlohmann::json& j, SensorReport::Battery& b) {
  j.at("percent").get_to(b.percent);
  j.at("charging").get_to(b.charging);
  j.at("onAC").get_to(b.onAC);
  getOptional(j, "minutesLeft", b.minutesLeft);
  getOptional(j, "cycleCount", b.cycleCount);
  getOptional(j, "healthPercent", b.healthPercent);
  getOptional(j, "celsius", b.celsius);
  getOptional(j, "adapterWatts", b.adapterWatts);
}

void to_json(nlohmann::json& j, const SensorReport& r) {
  j = {{"model", r.model},
       {"chip", r.chip},
       {"osVersion", r.osVersion},
       {"uptimeSeconds", r.uptimeSeconds},
       {"temperatures", r.temperatures},
       {"fans", r.fans},
       {"hasFans", r.hasFans},
       {"networkInBytesPerSec", r.networkInBytesPerSec},
       {"networkOutBytesPerSec", r.networkOutBytesPerSec},
       {"diskReadBytesPerSec", r.diskReadBytesPerSec},
       {"diskWriteBytesPerSec", r.diskWriteBytesPerSec}};
  putOptional(j, "cpuCelsius", r.cpuCelsius);
  putOptional(j, "cpuMaxCelsius", r.cpuMaxCelsius);
  putOptional(j, "gpuCelsius", r.gpuCelsius);
  putOptional(j, "socMaxCelsius", r.socMaxCelsius);
  putOptional(j, "systemWatts", r.systemWatts);
  putOptional(j, "gpuPercent", r.gpuPercent);
  putOptional(j, "battery", r.battery);
  putOptional(j, "connections", r.connections);
}

void from_json(const nlohmann::json& j, SensorReport& r) {
  j.at("model").get_to(r.model);
  j.at("chip").get_to(r.chip);
  j.at("osVersion").get_to(r.osVersion);
  j.at("uptimeSeconds").get_to(r.uptimeSeconds);
  j.at("temperatures").get_to(r.temperatures);
  j.at("fans").get_to(r.fans);
  j.at("hasFans").get_to(r.hasFans);
  j.at("networkInBytesPerSec").get_to(r.networkInBytesPerSec);
  j.at("networkOutBytesPerSec").get_to(r.networkOutBytesPerSec);
  j.at("diskReadBytesPerSec").get_to(r.diskReadBytesPerSec);
  j.at("diskWriteBytesPerSec").get_to(r.diskWriteBytesPerSec);
  getOptional(j, "cpuCelsius", r.cpuCelsius);
  getOptional(j, "cpuMaxCelsius", r.cpuMaxCelsius);
  getOptional(j, "gpuCelsius", r.gpuCelsius);
  getOptional(j, "socMaxCelsius", r.socMaxCelsius);
  getOptional(j, "systemWatts", r.systemWatts);
  getOptional(j, "gpuPercent", r.gpuPercent);
  getOptional(j, "battery", r.battery);
  getOptional(j, "connections", r.connections);
}

}  // namespace norvo
