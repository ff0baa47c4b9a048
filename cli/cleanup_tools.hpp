// The agent tools of the cleanup: `cleanup_preview` shows the catalogue with
// sizes, `suggest_cleanup` files a suggestion the owner answers. Neither
// removes anything.
#pragma once

#include "cli/mcp_tools.hpp"

namespace norvo::cli {

void registerCleanupTools(mcp::ToolRegistry& registry);

}  // namespace norvo::cli
