#include "cli/hook_status.hpp"

namespace norvo::cli {

std::optional<claude_hook::Status> hookStatus() {
  // No status source exists yet: the digest's level, line and advice will be
  // read here. Until then the hook stays silent rather than guess.
  return std::nullopt;
}

}  // namespace norvo::cli
