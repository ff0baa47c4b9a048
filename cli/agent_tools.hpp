// The tools `zemnorvo mcp` offers to agents, and the texts that introduce the
// server to them. Each tool is one entry added here with its handler; the
// protocol, argument checks, progress and cancellation come from the engine.
#pragma once

#include <string>

#include "cli/mcp_tools.hpp"

namespace norvo::cli {

// Adds every agent tool to `registry`.
void registerAgentTools(mcp::ToolRegistry& registry);

// The initialize instructions: what the server is for and when to call it.
std::string agentInstructions();

}  // namespace norvo::cli
