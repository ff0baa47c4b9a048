// The calling process and its ancestors as cheap process readings: enough to
// say under which agent a process runs, without reading the whole table.
#pragma once

#include <cstdint>
#include <map>

#include "core/measure/process_sample.hpp"
#include "core/platform/roots.hpp"

namespace norvo::platform::process_chain {

// `pid`, its parent, grandparent… up to a pid below 2, a process that cannot be
// read, or a repeat; keyed by pid. Fields that cannot be read stay empty;
// `cpuNanos` and `footprintBytes` are never read. Never throws.
std::map<int32_t, ProcessReading> read(int32_t pid, const Roots& roots);

}  // namespace norvo::platform::process_chain
