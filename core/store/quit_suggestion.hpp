// An agent's suggestion that the owner quit some apps. Agents never quit the
// owner's apps themselves: they file this record, the app asks the owner, and
// the answered record comes back through the store's done folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records/json_codec.hpp"

namespace norvo {

struct AppGroup;

struct QuitSuggestion {
  // One app proposed for quitting, copied from an app group of the snapshot.
  struct Item {
    std::string name;
    std::string bundlePath;
    std::optional<std::string> bundleID;
    int32_t mainPid = 0;
    double cpuPercent = 0;
    uint64_t memoryBytes = 0;

    // Copies name, bundle path, bundle id, main pid, CPU share and memory.
    static Item from(const AppGroup& group);

    friend bool operator==(const Item&, const Item&) = default;
  };

  std::string id;  // upper-case UUID; also the file name "<id>.json"
  Date created;
  std::string source;  // the agent that suggested it
  std::string reason;
  std::vector<Item> items;
  std::string status = "pending";  // the answering app sets another text
  std::vector<std::string> quit;   // filled on answering
  std::vector<std::string> kept;   // filled on answering
  std::optional<Date> answeredAt;

  // A new pending suggestion with a fresh id, created now, no outcome yet.
  static QuitSuggestion make(std::string source, std::string reason, std::vector<Item> items);

  friend bool operator==(const QuitSuggestion&, const QuitSuggestion&) = default;
};

void to_json(nlohmann::json& j, const QuitSuggestion::Item& i);
void from_json(const nlohmann::json& j, QuitSuggestion::Item& i);
void to_json(nlohmann::json& j, const QuitSuggestion& s);
// Every key but "answeredAt" (and an item's "bundleID") is required.
void from_json(const nlohmann::json& j, QuitSuggestion& s);

}  // namespace norvo
