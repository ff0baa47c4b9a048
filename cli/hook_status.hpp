// Where `zemnorvo hook` gets the machine's state from.
#pragma once

#include <optional>

#include "core/integration/claude_hook.hpp"

namespace norvo::cli {

// The current level, status line and advice for the hook, or absent when no
// status can be had in time (the hook then prints nothing). Never throws.
std::optional<claude_hook::Status> hookStatus();

}  // namespace norvo::cli
