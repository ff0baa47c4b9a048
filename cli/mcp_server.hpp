// The agent server's protocol engine: the Model Context Protocol over a pair of
// file descriptors (standard input and output when run as `zemnorvo mcp`),
// JSON-RPC 2.0 with one message per line.
//
// Shape of the engine:
// - One reader thread parses lines and answers initialize, ping, tools/list and
//   every protocol error itself, so a slow tool never delays them.
// - Each tools/call runs on its own worker thread, at most
//   `maxConcurrentCalls` at once; a call over that limit is answered at once
//   with a tool error asking the agent to retry.
// - Every message goes out as one whole line under one lock, so the output is
//   a clean sequence of JSON-RPC lines however many workers write.
// - A cancelled call (notifications/cancelled) sees its flag set, stops, and
//   gets no response, as clients expect.
// - Nothing a client sends can end the server: malformed lines get an error
//   and the next line is read. End of input or stop() ends it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/mcp_tools.hpp"

namespace norvo::mcp {

// JSON-RPC 2.0 error codes used by the server.
namespace rpc_error {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
}  // namespace rpc_error

// Protocol revisions this server speaks, newest first.
const std::vector<std::string>& supportedProtocolVersions();

// The revision to answer an initialize request with: the requested one when
// supported, otherwise the newest supported (the client then decides whether
// it can go on).
std::string negotiateProtocolVersion(std::string_view requested);

struct ServerInfo {
  std::string name{};
  std::string version{};
  std::string title{};
  std::string instructions{};  // shown to the agent's model; left out when empty
};

struct ServerOptions {
  // A longer line is answered with an error and the rest of it is discarded.
  std::size_t maxLineBytes = 4 * 1024 * 1024;
  std::size_t maxConcurrentCalls = 8;
  // How long shutdown waits for cancelled calls to return before leaving them.
  std::chrono::milliseconds shutdownGrace{3000};
  // Where diagnostics go; standard error when empty. Never standard output.
  std::function<void(const std::string&)> log{};
};

class Server {
 public:
  Server(const ToolRegistry& tools, ServerInfo info, ServerOptions options = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Reads messages from `inFd` and writes responses to `outFd` until end of
  // input, stop(), or a failed write. On the way out it cancels the calls still
  // running and waits up to the shutdown grace for them. Never throws. May be
  // called once per Server.
  void serve(int inFd, int outFd);

  // Asks serve() to end. Safe from a signal handler and from any thread.
  void stop() noexcept;

 private:
  struct Shared;
  struct Call;
  class CallContext;

  void handleLine(std::string_view line);
  void handleRequest(const nlohmann::json& id, const std::string& method,
                     const nlohmann::json& params);
  void handleNotification(const std::string& method, const nlohmann::json& params);
  void startCall(const nlohmann::json& id, const nlohmann::json& params);
  void reapFinishedCalls();
  void shutDown();
  void log(const std::string& text) const;

  const ToolRegistry& tools_;
  ServerInfo info_;
  ServerOptions options_;
  // Routes the stop signals to this server while it serves standard streams.
  friend void serveStandardStreams(Server& server);

  std::shared_ptr<Shared> shared_;
  bool initialized_ = false;
  std::vector<std::shared_ptr<Call>> threads_;  // touched by the reader thread only
};

// Serves standard input and output as a process's only server: SIGINT and
// SIGTERM (how clients end their servers) stop it cleanly, and SIGPIPE is
// ignored so a client that went away ends it through the failed write.
void serveStandardStreams(Server& server);

}  // namespace norvo::mcp
