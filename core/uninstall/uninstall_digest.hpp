// The agent digest's forms of the uninstaller's records: snake_case keys,
// one-decimal sizes, ISO 8601 dates, JSON null for what was not measured.
// Pure functions, callable from any thread.
#pragma once

#include <nlohmann/json.hpp>

#include "core/uninstall/uninstall_app.hpp"
#include "core/uninstall/uninstall_records.hpp"

namespace norvo::Compact {

// "name", "path", "running", "size_gb" (null when unknown), "bundle_id" and
// "version" when known, "last_used" (null when unknown).
nlohmann::json installedApp(const Uninstall::App& app);

// "path", "folder", "preselected" (found by id or file name, not by the
// display name alone), "size_mb"; an unknown size reads "sandbox data, not
// measured".
nlohmann::json leftover(const Uninstall::Leftover& leftover);

}  // namespace norvo::Compact
