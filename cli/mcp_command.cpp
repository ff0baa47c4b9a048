#include <atomic>
#include <csignal>

#include "cli/agent_tools.hpp"
#include "cli/commands.hpp"
#include "cli/mcp_server.hpp"

namespace norvo::cli {

namespace {

std::atomic<mcp::Server*> gServer{nullptr};

// Claude Code ends its servers with SIGINT, other clients with SIGTERM; both
// mean "finish up and leave", which stop() does without touching the heap.
extern "C" void onStopSignal(int) {
  if (auto* server = gServer.load()) server->stop();
}

void runMcpServer() {
  mcp::ToolRegistry registry;
  registerAgentTools(registry);
  mcp::Server server(registry, {.name = "zemra-norvo",
                                .version = NORVO_VERSION,
                                .title = "Zemra Norvo",
                                .instructions = agentInstructions()});

  // A client that closes its end makes writes fail with EPIPE, which the server
  // handles; the default SIGPIPE would kill the process first.
  std::signal(SIGPIPE, SIG_IGN);
  gServer = &server;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  server.serve(0, 1);

  gServer = nullptr;
}

}  // namespace

void addMcpCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "mcp", "Serve AI agents over the Model Context Protocol on standard input and output");
  cmd->callback([] { runMcpServer(); });
}

}  // namespace norvo::cli
