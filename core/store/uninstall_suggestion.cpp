#include "core/store/uninstall_suggestion.hpp"

#include "core/records/record_fields.hpp"
#include "core/store/uuid.hpp"

namespace norvo {

UninstallSuggestion UninstallSuggestion::make(std::string reason, std::string appName,
                                              std::string appPath) {
  UninstallSuggestion s;
  s.id = uuid::make();
  s.created = std::chrono::system_clock::now();
  s.reason = std::move(reason);
  s.appPath = std::move(appPath);
  s.appName = std::move(appName);
  return s;
}

constexpr auto uninstallSuggestionFields =
    record_fields::list(record_fields::field("id", &UninstallSuggestion::id),
                        record_fields::field("created", &UninstallSuggestion::created),
                        record_fields::field("reason", &UninstallSuggestion::reason),
                        record_fields::field("appPath", &UninstallSuggestion::appPath),
                        record_fields::field("appName", &UninstallSuggestion::appName),
                        record_fields::field("status", &UninstallSuggestion::status),
                        record_fields::field("removed", &UninstallSuggestion::removed),
                        record_fields::field("deleted", &UninstallSuggestion::deleted),
                        record_fields::field("bytes", &UninstallSuggestion::bytes),
                        record_fields::field("answeredAt", &UninstallSuggestion::answeredAt));
void to_json(nlohmann::json& j, const UninstallSuggestion& s) {
  uninstallSuggestionFields.write(j, s);
}
void from_json(const nlohmann::json& j, UninstallSuggestion& s) {
  uninstallSuggestionFields.read(j, s);
}

}  // namespace norvo
