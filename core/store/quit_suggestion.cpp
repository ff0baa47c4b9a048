#include "core/store/quit_suggestion.hpp"

#include "core/measure/process_sample.hpp"
#include "core/records/record_fields.hpp"
#include "core/store/uuid.hpp"

namespace norvo {

QuitSuggestion::Item QuitSuggestion::Item::from(const AppGroup& group) {
  return Item{group.name,    group.bundlePath, group.bundleID,
              group.mainPid, group.cpuPercent, group.memoryBytes};
}

QuitSuggestion QuitSuggestion::make(std::string source, std::string reason,
                                    std::vector<Item> items) {
  QuitSuggestion s;
  s.id = uuid::make();
  s.created = std::chrono::system_clock::now();
  s.source = std::move(source);
  s.reason = std::move(reason);
  s.items = std::move(items);
  return s;
}

constexpr auto itemFields =
    record_fields::list(record_fields::field("name", &QuitSuggestion::Item::name),
                        record_fields::field("bundlePath", &QuitSuggestion::Item::bundlePath),
                        record_fields::field("bundleID", &QuitSuggestion::Item::bundleID),
                        record_fields::field("mainPid", &QuitSuggestion::Item::mainPid),
                        record_fields::field("cpuPercent", &QuitSuggestion::Item::cpuPercent),
                        record_fields::field("memoryBytes", &QuitSuggestion::Item::memoryBytes));
void to_json(nlohmann::json& j, const QuitSuggestion::Item& i) { itemFields.write(j, i); }
void from_json(const nlohmann::json& j, QuitSuggestion::Item& i) { itemFields.read(j, i); }

constexpr auto quitSuggestionFields =
    record_fields::list(record_fields::field("id", &QuitSuggestion::id),
                        record_fields::field("created", &QuitSuggestion::created),
                        record_fields::field("source", &QuitSuggestion::source),
                        record_fields::field("reason", &QuitSuggestion::reason),
                        record_fields::field("items", &QuitSuggestion::items),
                        record_fields::field("status", &QuitSuggestion::status),
                        record_fields::field("quit", &QuitSuggestion::quit),
                        record_fields::field("kept", &QuitSuggestion::kept),
                        record_fields::field("answeredAt", &QuitSuggestion::answeredAt));
void to_json(nlohmann::json& j, const QuitSuggestion& s) { quitSuggestionFields.write(j, s); }
void from_json(const nlohmann::json& j, QuitSuggestion& s) { quitSuggestionFields.read(j, s); }

}  // namespace norvo
