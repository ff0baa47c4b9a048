// What a path on the disk is, how safe it is to remove, and the right way to
// free it. A size tree alone invites deleting the wrong things; the classes
// here are what "agents only suggest, the owner acts" rests on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/records/json_codec.hpp"

namespace norvo::DiskUsage {

struct Report;

// Ordered: safe < review < keep.
enum class Safety { safe, review, keep };
const char* rawValue(Safety safety);
// The legend shown with reports.
const char* legend(Safety safety);
void to_json(nlohmann::json& j, Safety s);
void from_json(const nlohmann::json& j, Safety& s);

// What the owner's side can offer for an item. The payload is the app's path
// (uninstall), the item's path (reveal) or a settings link (settings).
struct Action {
  enum class Case { cleanup, uninstall, reveal, settings, none };
  Case kind = Case::none;
  std::string payload;

  friend bool operator==(const Action&, const Action&) = default;
};
// {"<case>": {}} or {"<case>": {"_0": payload}}.
void to_json(nlohmann::json& j, const Action& a);
void from_json(const nlohmann::json& j, Action& a);

struct Kind {
  Safety safety = Safety::review;
  std::string what;
  std::string whatRu;
  std::string how;
  std::string howRu;
  Action action;

  friend bool operator==(const Kind&, const Kind&) = default;
};
void to_json(nlohmann::json& j, const Kind& k);
void from_json(const nlohmann::json& j, Kind& k);

struct Advice {
  std::string path;
  std::string name;
  int64_t bytes = 0;
  Kind kind;

  const std::string& id() const { return path; }
  friend bool operator==(const Advice&, const Advice&) = default;
};
void to_json(nlohmann::json& j, const Advice& a);
void from_json(const nlohmann::json& j, Advice& a);

// The places of the owner's account that the rules speak of, as they lie on
// this system (the README's counterparts table says which is which); the
// rules keep their order and texts whatever the places are.
struct Places {
  std::string home;
  std::string caches;      // the account's caches ($XDG_CACHE_HOME)
  std::string trash;       // the Trash ($XDG_DATA_HOME/Trash)
  std::string appData;     // app data ($XDG_DATA_HOME)
  std::string appConfig;   // app settings ($XDG_CONFIG_HOME), app data as well
  std::string library;     // the account's own data folder (~/.local)
  std::string containers;  // sandboxed apps' data (~/.var/app)
  std::string desktop, documents, downloads;
  std::vector<std::string> cloud;       // cloud-storage folders
  std::vector<std::string> appFolders;  // where apps are installed (/opt, flatpak, snap)

  // The XDG defaults below `home`; each optional override replaces its place
  // when it is an absolute path (relative values are invalid by XDG's rules).
  static Places standard(const std::string& home);
};

// Classifies `path` by the ordered rule table; the first matching row decides.
Kind kind(const std::string& path, const Places& places);

// The biggest places of `report` worth acting on, safe first, at most `limit`.
std::vector<Advice> advise(const Report& report, const Places& places, int limit);

}  // namespace norvo::DiskUsage
