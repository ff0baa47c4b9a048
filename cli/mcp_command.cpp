#include "cli/agent_tools.hpp"
#include "cli/commands.hpp"
#include "cli/mcp_server.hpp"

namespace norvo::cli {

void addMcpCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "mcp", "Serve AI agents over the Model Context Protocol on standard input and output");
  cmd->callback([] {
    mcp::ToolRegistry registry;
    registerAgentTools(registry);
    mcp::Server server(registry, {.name = "zemra-norvo",
                                  .version = NORVO_VERSION,
                                  .title = "Zemra Norvo",
                                  .instructions = agentInstructions()});
    mcp::serveStandardStreams(server);
  });
}

}  // namespace norvo::cli
