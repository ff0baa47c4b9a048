// The disk report as agents read it: snake_case keys, one-decimal GB, ISO
// dates, every item with its safety class and what it is, the tree cut to
// what matters for the measured size.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>

#include "core/assess/compact.hpp"
#include "core/disk/disk_report.hpp"

namespace norvo::Compact {

// `places` classifies the paths; `freeChange` (may be empty) gives the free
// space change of the volume over the last week.
nlohmann::json diskReport(const DiskUsage::Report& report, int depth,
                          const DiskUsage::Places& places, const FreeChangeLookup& freeChange);

// The free-space change as the disk history at `historyDir` tells it.
FreeChangeLookup freeChangeFrom(const std::filesystem::path& historyDir);

}  // namespace norvo::Compact
