// An agent's suggestion that the owner uninstall an app. The app carries out
// the uninstall the owner accepts and records whether the app went and how
// much space came free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/records/json_codec.hpp"

namespace norvo {

struct UninstallSuggestion {
  std::string id;  // upper-case UUID; also the file name "<id>.json"
  Date created;
  std::string reason;
  std::string appPath;  // the app bundle to remove
  std::string appName;
  std::string status = "pending";
  bool removed = false;         // filled on answering
  std::optional<bool> deleted;  // deleted outright rather than moved to the trash
  int64_t bytes = 0;            // filled on answering: bytes freed
  std::optional<Date> answeredAt;

  // A new pending suggestion for the app at `appPath`, with a fresh id,
  // created now.
  static UninstallSuggestion make(std::string reason, std::string appName, std::string appPath);

  friend bool operator==(const UninstallSuggestion&, const UninstallSuggestion&) = default;
};

void to_json(nlohmann::json& j, const UninstallSuggestion& s);
// Every key but "deleted" and "answeredAt" is required.
void from_json(const nlohmann::json& j, UninstallSuggestion& s);

}  // namespace norvo
