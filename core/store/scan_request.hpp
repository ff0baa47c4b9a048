// A request, filed by an agent, that the app measure a folder or volume. It
// waits in "scans/pending" until the app answers it with a report in
// "scans/done".
#pragma once

#include <optional>
#include <string>

#include "core/records/json_codec.hpp"

namespace norvo::NorvoStore {

struct ScanRequest {
  std::string id;  // upper-case UUID; also the file name "<id>.json"
  Date created;
  std::optional<std::string> volumePath;
  std::optional<std::string> path;

  // A new request with a fresh id, created now.
  static ScanRequest make(std::optional<std::string> volumePath = std::nullopt,
                          std::optional<std::string> path = std::nullopt);

  friend bool operator==(const ScanRequest&, const ScanRequest&) = default;
};

void to_json(nlohmann::json& j, const ScanRequest& r);
// "id" and "created" are required; the two paths may be missing or null.
void from_json(const nlohmann::json& j, ScanRequest& r);

}  // namespace norvo::NorvoStore
