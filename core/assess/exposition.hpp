// What Prometheus scrapes from a machine: the latest snapshot as the text
// exposition format 0.0.4, or as OpenMetrics 1.0.0 for a scraper that asks for
// it. Names start with "norvo_" and carry base units (bytes, seconds, ratios
// 0…1); a figure the machine does not have (a sensor, a fan) is left out
// rather than sent as 0. Everything here is a pure function of its arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/assess/norvo_snapshot.hpp"

namespace norvo::Exposition {

enum class Format { prometheus, openMetrics };

// The AI processes of one tick, counted over every process: the snapshot keeps
// only the heaviest, so counting its lists would cap the figures.
struct ProcessCounts {
  int64_t aiAgents = 0;
  int64_t aiTasks = 0;
  int64_t orphanedTasks = 0;  // AI tasks whose agent has exited
};

ProcessCounts countProcesses(const std::vector<ProcessSample>& samples);

// OpenMetrics when `accept` (an HTTP Accept header) lists
// application/openmetrics-text of version 1.0.0 or of no version with a
// non-zero quality; otherwise the text format every Prometheus reads.
Format negotiate(std::string_view accept);

// The Content-Type header that goes with `format`.
std::string_view contentType(Format format);

// A label value with backslash, double quote and line feed escaped, and bytes
// that are not UTF-8 replaced by U+FFFD (Prometheus refuses the whole scrape
// over one such label).
std::string escapeLabel(std::string_view value);

// The whole exposition; OpenMetrics ends with "# EOF". Never throws but for
// lack of memory.
std::string render(const NorvoSnapshot& snapshot, const ProcessCounts& counts, Format format);

}  // namespace norvo::Exposition
