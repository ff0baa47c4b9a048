// An agent's suggestion that the owner clean some entries of the cleanup
// catalogue. The app runs the cleanup the owner accepts and records what was
// cleaned and how much space came free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records/json_codec.hpp"

namespace norvo {

struct CleanupSuggestion {
  std::string id;  // upper-case UUID; also the file name "<id>.json"
  Date created;
  std::string reason;
  std::vector<std::string> itemIDs;  // ids of cleanup catalogue entries
  std::string status = "pending";
  std::vector<std::string> cleaned;  // filled on answering
  int64_t freedBytes = 0;            // filled on answering
  std::optional<Date> answeredAt;

  // A new pending suggestion with a fresh id, created now, no outcome yet.
  static CleanupSuggestion make(std::string reason, std::vector<std::string> itemIDs);

  friend bool operator==(const CleanupSuggestion&, const CleanupSuggestion&) = default;
};

void to_json(nlohmann::json& j, const CleanupSuggestion& s);
// Every key but "answeredAt" is required.
void from_json(const nlohmann::json& j, CleanupSuggestion& s);

}  // namespace norvo
