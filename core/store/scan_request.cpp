#include "core/store/scan_request.hpp"

#include "core/records/record_fields.hpp"
#include "core/store/uuid.hpp"

namespace norvo::NorvoStore {

ScanRequest ScanRequest::make(std::optional<std::string> volumePath,
                              std::optional<std::string> path) {
  return ScanRequest{uuid::make(), std::chrono::system_clock::now(), std::move(volumePath),
                     std::move(path)};
}

constexpr auto scanRequestFields =
    record_fields::list(record_fields::field("id", &ScanRequest::id),
                        record_fields::field("created", &ScanRequest::created),
                        record_fields::field("volumePath", &ScanRequest::volumePath),
                        record_fields::field("path", &ScanRequest::path));
void to_json(nlohmann::json& j, const ScanRequest& r) { scanRequestFields.write(j, r); }
void from_json(const nlohmann::json& j, ScanRequest& r) { scanRequestFields.read(j, r); }

}  // namespace norvo::NorvoStore
