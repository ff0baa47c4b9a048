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

void to_json(nlohmann::json& j, const CleanupSuggestion& s) {
  j = nlohmann::json{{"id", s.id},
                     {"created", s.created},
                     {"reason", s.reason},
                     {"itemIDs", s.itemIDs},
                     {"status", s.status},
                     {"cleaned", s.cleaned},
                     {"freedBytes", s.freedBytes}};
  json_codec::putOptional(j, "answeredAt", s.answeredAt);
}

void from_json(const nlohmann::json& j, CleanupSuggestion& s) {
  j.at("id").get_to(s.id);
  j.at("created").get_to(s.created);
  j.at("reason").get_to(s.reason);
  j.at("itemIDs").get_to(s.itemIDs);
  j.at("status").get_to(s.status);
  j.at("cleaned").get_to(s.cleaned);
  s.freedBytes = json_codec::getInteger<int64_t>(j, "freedBytes");
  json_codec::getOptional(j, "answeredAt", s.answeredAt);
}

}  // namespace norvo
