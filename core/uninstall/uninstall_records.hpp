// What the uninstaller reports: the leftovers an app left in the owner's data
// folders, and the outcome of a removal with the items that could not go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/json_codec.hpp"

namespace norvo::Uninstall {

struct Leftover {
  std::string path;
  std::string folder;  // the data folder it was found in, relative to home (".config")
  std::optional<int64_t> bytes{};
  bool byName = false;  // found under the app's display name, not its id or file name

  const std::string& id() const { return path; }
  friend bool operator==(const Leftover&, const Leftover&) = default;
};

struct Failure {
  enum class Kind { protected_, permission, gone, refused, other };

  std::string path;
  std::string reason;
  Kind kind = Kind::other;
  std::string app;  // the app's name

  const std::string& id() const { return path; }
  friend bool operator==(const Failure&, const Failure&) = default;
};

// "protected", "permission", "gone", "refused", "other".
std::string_view rawValue(Failure::Kind kind);
std::optional<Failure::Kind> failureKindFromRaw(std::string_view raw);

struct Result {
  std::vector<std::string> trashed;
  std::vector<std::string> deleted;
  int64_t bytes = 0;
  std::vector<std::string> errors;  // one message for the owner per problem
  std::vector<Failure> failures;

  friend bool operator==(const Result&, const Result&) = default;
};

void to_json(nlohmann::json& j, const Leftover& l);
void from_json(const nlohmann::json& j, Leftover& l);
void to_json(nlohmann::json& j, const Failure& f);
// Every key is required; an unknown kind fails.
void from_json(const nlohmann::json& j, Failure& f);
void to_json(nlohmann::json& j, const Result& r);
void from_json(const nlohmann::json& j, Result& r);

}  // namespace norvo::Uninstall
