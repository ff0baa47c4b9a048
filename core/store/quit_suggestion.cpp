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

void to_json(nlohmann::json& j, const QuitSuggestion::Item& i) {
  j = nlohmann::json{{"name", i.name},
                     {"bundlePath", i.bundlePath},
                     {"mainPid", i.mainPid},
                     {"cpuPercent", i.cpuPercent},
                     {"memoryBytes", i.memoryBytes}};
  json_codec::putOptional(j, "bundleID", i.bundleID);
}

void from_json(const nlohmann::json& j, QuitSuggestion::Item& i) {
  j.at("name").get_to(i.name);
  j.at("bundlePath").get_to(i.bundlePath);
  json_codec::getOptional(j, "bundleID", i.bundleID);
  i.mainPid = json_codec::getInteger<int32_t>(j, "mainPid");
  j.at("cpuPercent").get_to(i.cpuPercent);
  i.memoryBytes = json_codec::getInteger<uint64_t>(j, "memoryBytes");
}

void to_json(nlohmann::json& j, const QuitSuggestion& s) {
  j = nlohmann::json{{"id", s.id},         {"created", s.created}, {"source", s.source},
                     {"reason", s.reason}, {"items", s.items},     {"status", s.status},
                     {"quit", s.quit},     {"kept", s.kept}};
  json_codec::putOptional(j, "answeredAt", s.answeredAt);
}

void from_json(const nlohmann::json& j, QuitSuggestion& s) {
  j.at("id").get_to(s.id);
  j.at("created").get_to(s.created);
  j.at("source").get_to(s.source);
  j.at("reason").get_to(s.reason);
  j.at("items").get_to(s.items);
  j.at("status").get_to(s.status);
  j.at("quit").get_to(s.quit);
  j.at("kept").get_to(s.kept);
  json_codec::getOptional(j, "answeredAt", s.answeredAt);
}

}  // namespace norvo
