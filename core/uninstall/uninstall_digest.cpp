#include "core/uninstall/uninstall_digest.hpp"

#include "core/assess/compact.hpp"

namespace norvo::Compact {

nlohmann::json installedApp(const Uninstall::App& app) {
  nlohmann::json j = {{"name", app.name},
                      {"path", app.path},
                      {"running", app.running},
                      {"size_gb", app.bytes ? gbValue(static_cast<double>(*app.bytes)) : nullptr},
                      {"last_used", app.lastUsed ? nlohmann::json(formatIso8601(*app.lastUsed))
                                                 : nlohmann::json(nullptr)}};
  if (app.bundleID) j["bundle_id"] = *app.bundleID;
  if (app.version) j["version"] = *app.version;
  return j;
}

nlohmann::json leftover(const Uninstall::Leftover& leftover) {
  nlohmann::json size = "sandbox data, not measured";
  if (leftover.bytes) size = oneDecimal(static_cast<double>(*leftover.bytes) / (1024.0 * 1024.0));
  return {{"path", leftover.path},
          {"folder", leftover.folder},
          {"preselected", !leftover.byName},
          {"size_mb", size}};
}

}  // namespace norvo::Compact
