// Finding a process by its kernel name, and giving the calling process a name.
// The store uses these to tell whether the product's sampling loop is alive
// without asking it anything: the loop names its own process, and any other
// process of the same user can look for that name.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/platform/roots.hpp"

namespace norvo::platform::named_process {

// True as soon as one process owned by `uid` has exactly the kernel name
// `name` (its command name when the kernel name is empty). Processes that
// vanish or cannot be read while listing are skipped; false when the process
// list cannot be read at all.
bool exists(const Roots& roots, std::string_view name, uint32_t uid);

// Gives the calling process the kernel name `name`, as process listings show
// it. The kernel keeps at most 15 bytes. Returns false when the system refused.
bool nameThisProcess(std::string_view name);

}  // namespace norvo::platform::named_process
