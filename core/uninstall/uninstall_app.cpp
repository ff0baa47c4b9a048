#include "core/uninstall/uninstall_app.hpp"

namespace norvo::Uninstall {

void to_json(nlohmann::json& j, const App& a) {
  j = nlohmann::json{{"name", a.name}, {"path", a.path}, {"running", a.running}};
  json_codec::putOptional(j, "bundleID", a.bundleID);
  json_codec::putOptional(j, "version", a.version);
  json_codec::putOptional(j, "bytes", a.bytes);
  json_codec::putOptional(j, "lastUsed", a.lastUsed);
}

void from_json(const nlohmann::json& j, App& a) {
  j.at("name").get_to(a.name);
  j.at("path").get_to(a.path);
  j.at("running").get_to(a.running);
  json_codec::getOptional(j, "bundleID", a.bundleID);
  json_codec::getOptional(j, "version", a.version);
  json_codec::getOptional(j, "bytes", a.bytes);
  json_codec::getOptional(j, "lastUsed", a.lastUsed);
}

}  // namespace norvo::Uninstall
