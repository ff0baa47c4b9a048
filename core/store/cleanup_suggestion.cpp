#include "core/store/cleanup_suggestion.hpp"

#include "core/records/record_fields.hpp"
#include "core/store/uuid.hpp"

namespace norvo {

CleanupSuggestion CleanupSuggestion::make(std::string reason, std::vector<std::string> itemIDs) {
  CleanupSuggestion s;
  s.id = uuid::make();
  s.created = std::chrono::system_clock::now();
  s.reason = std::move(reason);
  s.itemIDs = std::move(itemIDs);
  return s;
}

constexpr auto cleanupSuggestionFields =
    record_fields::list(record_fields::field("id", &CleanupSuggestion::id),
                        record_fields::field("created", &CleanupSuggestion::created),
                        record_fields::field("reason", &CleanupSuggestion::reason),
                        record_fields::field("itemIDs", &CleanupSuggestion::itemIDs),
                        record_fields::field("status", &CleanupSuggestion::status),
                        record_fields::field("cleaned", &CleanupSuggestion::cleaned),
                        record_fields::field("freedBytes", &CleanupSuggestion::freedBytes),
                        record_fields::field("answeredAt", &CleanupSuggestion::answeredAt));
void to_json(nlohmann::json& j, const CleanupSuggestion& s) { cleanupSuggestionFields.write(j, s); }
void from_json(const nlohmann::json& j, CleanupSuggestion& s) {
  cleanupSuggestionFields.read(j, s);
}

}  // namespace norvo
