// An installed app as the uninstaller lists it: where its bundle is, what it
// is called, and what is known about its size and use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/records/json_codec.hpp"

namespace norvo::Uninstall {

struct App {
  std::string name;  // bundle file name without its extension
  std::string path;  // full path of the bundle
  std::optional<std::string> bundleID{};
  std::optional<std::string> version{};
  std::optional<int64_t> bytes{};  // size of the bundle when measured
  std::optional<Date> lastUsed{};
  bool running = false;  // a process runs from inside the bundle

  const std::string& id() const { return path; }

  friend bool operator==(const App&, const App&) = default;
};

void to_json(nlohmann::json& j, const App& a);
// "name", "path" and "running" are required; the rest may be missing.
void from_json(const nlohmann::json& j, App& a);

}  // namespace norvo::Uninstall
