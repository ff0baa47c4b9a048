// Tools that exercise the agent-server engine in tests: one that answers at
// once, one that runs for a while with progress and honours cancellation, and
// one that fails in each way a handler can. Used by the in-process tests and
// by the test server that the MCP client library drives.
#pragma once

#include <atomic>

#include "cli/mcp_tools.hpp"

namespace norvo::test {

// What the slow tool saw, for tests that check a cancel reached the handler.
struct ToolProbe {
  std::atomic<int> started{0};
  std::atomic<int> cancelled{0};
};

// Adds "echo", "slow", "fail" and "inspect". `probe` may be null.
void registerTestTools(mcp::ToolRegistry& registry, ToolProbe* probe = nullptr);

}  // namespace norvo::test
