// The agent-server engine with the test tools, for the end-to-end test that
// drives it with the official MCP client library. It runs exactly as
// `zemnorvo mcp` does (same engine, same standard-stream and signal handling);
// only the tool table differs.
#include "cli/mcp_server.hpp"
#include "mcp/test_tools.hpp"

int main() {
  norvo::mcp::ToolRegistry registry;
  norvo::test::registerTestTools(registry);
  norvo::mcp::Server server(registry, {.name = "zemra-norvo-test",
                                       .version = "0.0.1",
                                       .title = "Engine under test",
                                       .instructions = "Test tools only."});
  norvo::mcp::serveStandardStreams(server);
  return 0;
}
