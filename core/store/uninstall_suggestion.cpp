#include "core/store/uninstall_suggestion.hpp"

#include "core/records/record_fields.hpp"
#include "core/store/uuid.hpp"

namespace norvo {

UninstallSuggestion UninstallSuggestion::make(std::string reason, const Uninstall::App& app) {
  UninstallSuggestion s;
  s.id = uuid::make();
  s.created = std::chrono::system_clock::now();
  s.reason = std::move(reason);
  s.appPath = app.path;
  s.appName = app.name;
  return s;
}

void to_json(nlohmann::json& j, const UninstallSuggestion& s) {
  j = nlohmann::json{{"id", s.id},           {"created", s.created}, {"reason", s.reason},
                     {"appPath", s.appPath}, {"appName", s.appName}, {"status", s.status},
                     {"removed", s.removed}, {"bytes", s.bytes}};
  json_codec::putOptional(j, "deleted", s.deleted);
  json_codec::putOptional(j, "answeredAt", s.answeredAt);
}

void from_json(const nlohmann::json& j, UninstallSuggestion& s) {
  j.at("id").get_to(s.id);
  j.at("created").get_to(s.created);
  j.at("reason").get_to(s.reason);
  j.at("appPath").get_to(s.appPath);
  j.at("appName").get_to(s.appName);
  j.at("status").get_to(s.status);
  j.at("removed").get_to(s.removed);
  json_codec::getOptional(j, "deleted", s.deleted);
  s.bytes = json_codec::getInteger<int64_t>(j, "bytes");
  json_codec::getOptional(j, "answeredAt", s.answeredAt);
}

}  // namespace norvo
