#include "core/uninstall/uninstall_records.hpp"

#include <array>
#include <utility>

#include "core/records/record_fields.hpp"

namespace norvo::Uninstall {

namespace {

constexpr std::array<std::pair<Failure::Kind, std::string_view>, 5> kindNames{{
    {Failure::Kind::protected_, "protected"},
    {Failure::Kind::permission, "permission"},
    {Failure::Kind::gone, "gone"},
    {Failure::Kind::refused, "refused"},
    {Failure::Kind::other, "other"},
}};

// The kind travels as its raw text; the record lists it as a plain string.
struct FailureFields {
  std::string path, reason, kind, app;
};

constexpr auto failureFields =
    record_fields::list(record_fields::field("path", &FailureFields::path),
                        record_fields::field("reason", &FailureFields::reason),
                        record_fields::field("kind", &FailureFields::kind),
                        record_fields::field("app", &FailureFields::app));

constexpr auto leftoverFields =
    record_fields::list(record_fields::field("path", &Leftover::path),
                        record_fields::field("folder", &Leftover::folder),
                        record_fields::field("bytes", &Leftover::bytes),
                        record_fields::field("byName", &Leftover::byName));

constexpr auto resultFields = record_fields::list(
    record_fields::field("trashed", &Result::trashed),
    record_fields::field("deleted", &Result::deleted),
    record_fields::field("bytes", &Result::bytes), record_fields::field("errors", &Result::errors),
    record_fields::field("failures", &Result::failures));

}  // namespace

std::string_view rawValue(Failure::Kind kind) {
  for (const auto& [k, name] : kindNames)
    if (k == kind) return name;
  return "other";
}

std::optional<Failure::Kind> failureKindFromRaw(std::string_view raw) {
  for (const auto& [k, name] : kindNames)
    if (name == raw) return k;
  return std::nullopt;
}

void to_json(nlohmann::json& j, const Leftover& l) { leftoverFields.write(j, l); }
void from_json(const nlohmann::json& j, Leftover& l) { leftoverFields.read(j, l); }

void to_json(nlohmann::json& j, const Failure& f) {
  failureFields.write(j, FailureFields{f.path, f.reason, std::string(rawValue(f.kind)), f.app});
}

void from_json(const nlohmann::json& j, Failure& f) {
  FailureFields fields;
  failureFields.read(j, fields);
  auto kind = failureKindFromRaw(fields.kind);
  if (!kind) throw nlohmann::json::type_error::create(302, "unknown failure kind", &j);
  f = Failure{fields.path, fields.reason, *kind, fields.app};
}

void to_json(nlohmann::json& j, const Result& r) { resultFields.write(j, r); }
void from_json(const nlohmann::json& j, Result& r) { resultFields.read(j, r); }

}  // namespace norvo::Uninstall
