// The snapshot the agent-facing commands answer from: the sampling loop's
// status.json while it is fresh, otherwise a quick measurement of our own.
#pragma once

#include "core/assess/norvo_snapshot.hpp"

namespace norvo::cli {

// status.json when at most `maxAge` seconds old, else a two-sample measurement
// `seconds` apart. Never throws.
NorvoSnapshot currentSnapshot(double maxAge = 30, double seconds = 1.0);

}  // namespace norvo::cli
