#include "core/store/scan_request.hpp"

#include "core/store/uuid.hpp"

namespace norvo::NorvoStore {

ScanRequest ScanRequest::make(std::optional<std::string> volumePath,
                              std::optional<std::string> path) {
  return ScanRequest{uuid::make(), std::chrono::system_clock::now(), std::move(volumePath),
                     std::move(path)};
}

void to_json(nlohmann::json& j, const ScanRequest& r) {
  j = nlohmann::json{{"id", r.id}, {"created", r.created}};
  json_codec::putOptional(j, "volumePath", r.volumePath);
  json_codec::putOptional(j, "path", r.path);
}

void from_json(const nlohmann::json& j, ScanRequest& r) {
  j.at("id").get_to(r.id);
  j.at("created").get_to(r.created);
  json_codec::getOptional(j, "volumePath", r.volumePath);
  json_codec::getOptional(j, "path", r.path);
}

}  // namespace norvo::NorvoStore
