// Work the owner did not ask for right now (answering an agent's scan while
// the sampling loop runs) should never slow what the owner is doing.
#pragma once

#include <string>

namespace norvo::platform {

// Moves the calling thread to the idle I/O class and the lowest CPU
// priority. False with `error` set when the system refused either.
bool lowerThisThreadPriority(std::string& error);

}  // namespace norvo::platform
