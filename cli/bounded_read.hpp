// Reading a whole input that may be too large or never end, such as a hook's
// standard input: the command must answer within its caller's timeout whatever
// arrives.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace norvo::cli {

struct BoundedRead {
  std::string data;
  bool complete = false;  // end of input seen within the limits
  bool tooLarge = false;  // more than the cap arrived; data holds only the cap
};

// Reads `fd` until end of input, `maxBytes` bytes, or `timeout` from the call,
// whichever comes first. Never throws; a read error ends the read as incomplete.
BoundedRead readBounded(int fd, std::size_t maxBytes, std::chrono::milliseconds timeout);

}  // namespace norvo::cli
