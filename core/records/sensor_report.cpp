#include "core/records/sensor_report.hpp"

#include "core/records/record_fields.hpp"

namespace norvo {

constexpr auto fanInfoFields = record_fields::list(
    record_fields::field("id", &FanInfo::id), record_fields::field("rpm", &FanInfo::rpm),
    record_fields::field("minRPM", &FanInfo::minRPM),
    record_fields::field("maxRPM", &FanInfo::maxRPM),
    record_fields::field("manual", &FanInfo::manual),
    record_fields::field("targetRPM", &FanInfo::targetRPM));
void to_json(nlohmann::json& j, const FanInfo& f) { fanInfoFields.write(j, f); }
void from_json(const nlohmann::json& j, FanInfo& f) { fanInfoFields.read(j, f); }

constexpr auto temperatureFields =
    record_fields::list(record_fields::field("name", &SensorReport::Temperature::name),
                        record_fields::field("celsius", &SensorReport::Temperature::celsius));
void to_json(nlohmann::json& j, const SensorReport::Temperature& t) {
  temperatureFields.write(j, t);
}
void from_json(const nlohmann::json& j, SensorReport::Temperature& t) {
  temperatureFields.read(j, t);
}

constexpr auto batteryFields = record_fields::list(
    record_fields::field("percent", &SensorReport::Battery::percent),
    record_fields::field("charging", &SensorReport::Battery::charging),
    record_fields::field("onAC", &SensorReport::Battery::onAC),
    record_fields::field("minutesLeft", &SensorReport::Battery::minutesLeft),
    record_fields::field("cycleCount", &SensorReport::Battery::cycleCount),
    record_fields::field("healthPercent", &SensorReport::Battery::healthPercent),
    record_fields::field("celsius", &SensorReport::Battery::celsius),
    record_fields::field("adapterWatts", &SensorReport::Battery::adapterWatts));
void to_json(nlohmann::json& j, const SensorReport::Battery& b) { batteryFields.write(j, b); }
void from_json(const nlohmann::json& j, SensorReport::Battery& b) { batteryFields.read(j, b); }

constexpr auto sensorReportFields = record_fields::list(
    record_fields::field("model", &SensorReport::model),
    record_fields::field("chip", &SensorReport::chip),
    record_fields::field("osVersion", &SensorReport::osVersion),
    record_fields::field("uptimeSeconds", &SensorReport::uptimeSeconds),
    record_fields::field("temperatures", &SensorReport::temperatures),
    record_fields::field("fans", &SensorReport::fans),
    record_fields::field("hasFans", &SensorReport::hasFans),
    record_fields::field("networkInBytesPerSec", &SensorReport::networkInBytesPerSec),
    record_fields::field("networkOutBytesPerSec", &SensorReport::networkOutBytesPerSec),
    record_fields::field("diskReadBytesPerSec", &SensorReport::diskReadBytesPerSec),
    record_fields::field("diskWriteBytesPerSec", &SensorReport::diskWriteBytesPerSec),
    record_fields::field("cpuCelsius", &SensorReport::cpuCelsius),
    record_fields::field("cpuMaxCelsius", &SensorReport::cpuMaxCelsius),
    record_fields::field("gpuCelsius", &SensorReport::gpuCelsius),
    record_fields::field("socMaxCelsius", &SensorReport::socMaxCelsius),
    record_fields::field("cpuSource", &SensorReport::cpuSource),
    record_fields::field("gpuSource", &SensorReport::gpuSource),
    record_fields::field("systemWatts", &SensorReport::systemWatts),
    record_fields::field("gpuPercent", &SensorReport::gpuPercent),
    record_fields::field("battery", &SensorReport::battery),
    record_fields::field("connections", &SensorReport::connections));
void to_json(nlohmann::json& j, const SensorReport& r) { sensorReportFields.write(j, r); }
void from_json(const nlohmann::json& j, SensorReport& r) { sensorReportFields.read(j, r); }

}  // namespace norvo
