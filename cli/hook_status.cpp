#include "cli/hook_status.hpp"

#include <cstdio>

#include "cli/current_status.hpp"
#include "core/assess/compact.hpp"
#include "core/measure/session.hpp"

namespace norvo::cli {

std::optional<claude_hook::Status> hookStatus() {
  try {
    // The hook has 5 seconds in all: a short measurement keeps it well inside
    // even when the sampling loop is not running.
    auto snapshot = currentSnapshot(30, 0.3);
    claude_hook::Status status;
    status.level = std::string(rawValue(snapshot.assessment.level));
    status.summary = Compact::line(snapshot);
    for (const auto& sentence : Compact::advice(snapshot, Session::myAgent())) {
      if (!status.advice.empty()) status.advice += " ";
      status.advice += sentence;
    }
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo hook: %s\n", e.what());
    // Whatever went wrong, the agent must not be held up by the hook.
    return std::nullopt;
  }
}

}  // namespace norvo::cli
