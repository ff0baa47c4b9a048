// The agent digest's form of a cleanup catalogue item: snake_case keys, a
// one-decimal size in GB (JSON null when it was not measured in time), the
// English texts. A pure function, callable from any thread.
#pragma once

#include <nlohmann/json.hpp>

#include "core/cleanup/cleanup.hpp"

namespace norvo::Compact {

// "id", "title", "removal", "after", "recommended", "paths" (how many),
// "size_gb", "path_list" (at most five paths, then "… N more") and "skipped"
// when the item waits for a running tool.
nlohmann::json cleanupItem(const Cleanup::Item& item);

}  // namespace norvo::Compact
