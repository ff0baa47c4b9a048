// The protocol engine driven in-process through two pipes, as a client would
// drive `zemnorvo mcp` through its standard input and output.
#include "cli/mcp_server.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <thread>

#include "cli/child_process.hpp"
#include "mcp/test_tools.hpp"
#include "test_support.hpp"

namespace norvo::mcp {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class Harness {
 public:
  explicit Harness(ServerOptions options = {}, std::optional<Tool> extra = std::nullopt) {
    test::registerTestTools(registry_, &probe);
    if (extra) registry_.add(std::move(*extra));
    options.log = [this](const std::string& line) { logs.push_back(line); };
    server_ = std::make_unique<Server>(
        registry_, ServerInfo{"zemra-norvo", "9.8.7", "Zemra Norvo", "Ask before work."}, options);
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
    toServer_ = in[1];
    fromServer_ = out[0];
    serverFds_ = {in[0], out[1]};
    thread_ = std::thread([this] {
      server_->serve(serverFds_[0], serverFds_[1]);
      served_ = true;
    });
  }
  ~Harness() {
    closeInput();
    if (thread_.joinable()) thread_.join();
    for (int fd : {fromServer_, serverFds_[0], serverFds_[1]}) ::close(fd);
  }

  void sendRaw(std::string_view bytes) {
    for (ssize_t n; !bytes.empty(); bytes.remove_prefix(static_cast<std::size_t>(n)))
      if ((n = ::write(toServer_, bytes.data(), bytes.size())) <= 0)
        throw std::runtime_error("write to server failed");
  }
  // A request, or a notification when `id` is null.
  void request(const json& id, const std::string& method, json params = json::object()) {
    json message = {{"jsonrpc", "2.0"}, {"method", method}, {"params", params}};
    if (!id.is_null()) message["id"] = id;
    sendRaw(message.dump() + "\n");
  }
  void cancel(const json& id) { request(nullptr, "notifications/cancelled", {{"requestId", id}}); }
  void call(const json& id, const std::string& tool, json arguments) {
    request(id, "tools/call", {{"name", tool}, {"arguments", arguments}});
  }
  json initialize(const std::string& version = "2025-11-25") {
    request(0, "initialize", {{"protocolVersion", version}, {"capabilities", json::object()}});
    auto reply = next();
    request(nullptr, "notifications/initialized");
    return reply;
  }
  // The next line the server writes, parsed; a line that is not JSON-RPC
  // fails the test, since the server must write nothing else.
  json next(std::chrono::milliseconds timeout = 5000ms) {
    auto line = test::readLine(fromServer_, buffer_, timeout);
    auto parsed = line ? json::parse(*line, nullptr, false) : json();
    if (!parsed.is_object()) {
      ADD_FAILURE() << "not JSON-RPC on the output: " << line.value_or("nothing in time");
      return json();
    }
    EXPECT_EQ(parsed.value("jsonrpc", ""), "2.0") << *line;
    return parsed;
  }
  void expectSilence() {
    auto line = test::readLine(fromServer_, buffer_, 300ms);
    EXPECT_FALSE(line) << "unexpected message: " << *line;
  }
  void closeInput() { ::close(std::exchange(toServer_, -1)); }
  // Waits for serve() to return; false when it did not within `timeout`.
  bool waitServed(std::chrono::milliseconds timeout) {
    for (auto until = std::chrono::steady_clock::now() + timeout; !served_;
         std::this_thread::sleep_for(10ms))
      if (std::chrono::steady_clock::now() > until) return false;
    thread_.join();
    return true;
  }
  void waitFor(const std::atomic<int>& counter, int atLeast) {
    test::waitFor([&] { return counter >= atLeast; }, 5s);
  }

  test::ToolProbe probe;
  std::vector<std::string> logs;

 private:
  ToolRegistry registry_;
  std::unique_ptr<Server> server_;
  int toServer_ = -1, fromServer_ = -1;
  std::array<int, 2> serverFds_{};
  std::thread thread_;
  std::atomic<bool> served_{false};
  std::string buffer_;
};

json errorCode(const json& reply) {
  return reply.contains("error") ? reply["error"]["code"] : json();
}

TEST(McpLifecycle, OnlyPingAndInitializeAreServedBeforeInitializeAndInitializeOnce) {
  Harness h;
  h.request(1, "ping");
  EXPECT_EQ(h.next(), json({{"jsonrpc", "2.0"}, {"id", 1}, {"result", json::object()}}));
  h.call(3, "echo", {{"text", "x"}});
  EXPECT_EQ(errorCode(h.next()), rpc_error::kInvalidRequest);
  // A version the server does not know gets its newest; an older one it knows
  // is answered as asked end to end (mcp_sdk_e2e.mjs).
  EXPECT_EQ(h.initialize("2099-01-01")["result"]["protocolVersion"], "2025-11-25");
  h.request(4, "initialize", {{"protocolVersion", "2025-11-25"}});
  EXPECT_EQ(errorCode(h.next()), rpc_error::kInvalidRequest);
}

// Plain and structured answers, a bad argument and a ToolError are driven end
// to end (mcp_sdk_e2e.mjs); these are the handler failures no client there sees.
TEST(McpTools, AnyOtherHandlerFailureIsAToolErrorNamingIt) {
  Harness h;
  h.initialize();
  const std::pair<const char*, std::string> cases[] = {
      {"exception", "Tool fail failed: vector too long"}, {"other", "Tool fail failed."}};
  int id = 100;
  for (const auto& [kind, text] : cases) {
    h.call(++id, "fail", {{"kind", kind}});
    auto reply = h.next();
    EXPECT_EQ(reply["id"], id);
    EXPECT_EQ(reply["result"]["isError"], true) << reply;
    ASSERT_EQ(reply["result"]["content"].size(), 1u) << reply;
    EXPECT_EQ(reply["result"]["content"][0]["text"].get<std::string>().rfind(text, 0), 0u) << reply;
  }
}

// Bytes that are not UTF-8, a batch, a JSON-RPC 1.0 request and an unknown
// tool are sent to the running server by mcp_sdk_e2e.mjs; the other shapes here.
TEST(McpErrors, EveryMalformedOrOversizedMessageGetsItsErrorAndServingGoesOn) {
  using namespace rpc_error;
  const std::tuple<std::string, int, json> cases[] = {
      {"{\"jsonrpc\":\"2.0\",\"id\":1,", kParseError, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"x\":\"\xc3\x28\"}", kParseError,
       nullptr},
      {std::string(100, '[') + std::string(100, ']'), kParseError, nullptr},
      {"\"ping\"", kInvalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1.5,\"method\":\"ping\"}", kInvalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":5}", kInvalidRequest, 5},
      {"{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":7}", kInvalidRequest, 6},
      {"{\"jsonrpc\":\"2.0\",\"id\":\"s\",\"method\":\"resources/list\"}", kMethodNotFound, "s"},
      {"{\"jsonrpc\":\"2.0\",\"id\":8,\"method\":\"ping\",\"params\":[1]}", kInvalidParams, 8},
      {"{\"jsonrpc\":\"2.0\",\"id\":9,\"method\":\"tools/call\",\"params\":{}}", kInvalidParams, 9},
      {"{\"jsonrpc\":\"2.0\",\"id\":11,\"method\":\"tools/call\",\"params\":{\"name\":\"echo\","
       "\"arguments\":[\"x\"]}}",
       kInvalidParams, 11},
  };
  Harness h({.maxLineBytes = 1024});
  h.initialize();
  // Notifications and the client's own responses come first: an answer to any
  // of them would arrive in place of the first case's error.
  h.sendRaw(
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/roots/list_changed\"}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/cancelled\",\"params\":{\"requestId\":77}}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/cancelled\",\"params\":\"x\"}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"made/up\",\"params\":[1,2]}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":3,\"result\":{}}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":4,\"error\":{\"code\":1,\"message\":\"m\"}}\n\n   \r\n");
  int pingId = 1000;
  for (const auto& [line, code, id] : cases) {
    h.sendRaw(line + "\n");
    auto reply = h.next();
    EXPECT_EQ(errorCode(reply), code) << line << " -> " << reply;
    EXPECT_TRUE(reply["error"]["message"].is_string()) << reply;
    EXPECT_EQ(reply["id"], id) << line;
    EXPECT_FALSE(reply.contains("result"));
    h.request(++pingId, "ping");
    EXPECT_EQ(h.next()["id"], pingId) << "server stopped answering after: " << line;
  }

  // An oversized line is refused and the rest of it discarded. Sent in pieces
  // so the cap is crossed in the middle of a read.
  std::string big = "{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":\"ping\",\"pad\":\"" +
                    std::string(5000, 'x') + "\"}";
  h.sendRaw(big.substr(0, 700));
  h.sendRaw(big.substr(700, 2000));
  h.sendRaw(big.substr(2700) + "\n{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":\"ping\"}\n");
  auto refused = h.next();
  EXPECT_EQ(errorCode(refused), rpc_error::kInvalidRequest);
  EXPECT_EQ(refused["id"], nullptr);
  EXPECT_EQ(h.next()["id"], 6);  // the oversized message itself is never answered
  // A line exactly at the cap is still served.
  std::string head = "{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"ping\",\"pad\":\"";
  h.sendRaw(head + std::string(1024 - head.size() - 2, 'y') + "\"}\n");
  EXPECT_EQ(h.next()["id"], 7);
}

// A long call holds up nothing else; its id stays taken until it ended, and
// only a cancel of that very id stops it, after which it sends no response.
TEST(McpCalls, ALongCallRunsAlongsideOthersUntilItsOwnIdIsCancelled) {
  Harness h;
  h.initialize();
  h.call(1, "slow", {{"steps", 1}, {"step_ms", 60000}});
  h.waitFor(h.probe.started, 1);
  // A ping beside it is answered in mcp_sdk_e2e.mjs, a tool call in
  // CallsBeyondTheLimitAreRefusedAsToolErrors.
  h.call(1, "echo", {{"text", "again"}});
  auto dup = h.next();
  EXPECT_EQ(errorCode(dup), rpc_error::kInvalidRequest);
  EXPECT_EQ(dup["id"], 1);
  h.cancel("1");  // 1 and "1" are not the same id
  h.expectSilence();
  EXPECT_EQ(h.probe.cancelled, 0);
  h.cancel(1);
  h.waitFor(h.probe.cancelled, 1);
  EXPECT_EQ(h.probe.cancelled, 1);
  h.expectSilence();
  h.request(1, "ping");
  EXPECT_EQ(h.next()["id"], 1);
}

TEST(McpCalls, CallsBeyondTheLimitAreRefusedAsToolErrors) {
  Harness h({.maxConcurrentCalls = 2});
  h.initialize();
  for (int id : {1, 2}) h.call(id, "slow", {{"steps", 1}, {"step_ms", 60000}});
  h.waitFor(h.probe.started, 2);
  h.call(3, "echo", {{"text", "x"}});
  auto refused = h.next();
  EXPECT_EQ(refused["id"], 3);
  EXPECT_EQ(refused["result"]["isError"], true);
  h.cancel(1);
  h.waitFor(h.probe.cancelled, 1);
  // The slot is free once the cancelled call has returned.
  for (int attempt = 0; attempt < 100; ++attempt, std::this_thread::sleep_for(10ms)) {
    h.call(4, "echo", {{"text", "x"}});
    if (h.next()["result"]["isError"] == false) return;
  }
  ADD_FAILURE() << "the freed slot was never reused";
}

// At end of input the last line counts even without its line feed, running
// calls are cancelled and serving ends promptly. A signal ends it through the
// server's stop, driven by McpCommand's SIGTERM and mcp_sdk_e2e.mjs's SIGINT.
TEST(McpShutdown, EndOfInputEndsServingPromptly) {
  Harness h;
  h.initialize();
  h.call(1, "slow", {{"steps", 1}, {"step_ms", 60000}});
  h.waitFor(h.probe.started, 1);
  h.sendRaw("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}");
  h.closeInput();
  EXPECT_EQ(h.next()["id"], 2);
  // The 60-second call does not hold it: serving ends as soon as the call is cancelled.
  EXPECT_TRUE(h.waitServed(3s));
  EXPECT_EQ(h.probe.cancelled, 1);
}

TEST(McpShutdown, AHandlerThatIgnoresCancellationIsLeftBehindAfterTheGrace) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  Harness h({.shutdownGrace = 200ms},
            Tool{.name = "stubborn", .handler = [release](const Arguments&, ToolContext&) {
                   while (!*release) std::this_thread::sleep_for(5ms);
                   return ToolResult::text("late");
                 }});
  h.initialize();
  h.call(1, "stubborn", json::object());
  h.closeInput();
  EXPECT_TRUE(h.waitServed(2s));
  ASSERT_FALSE(h.logs.empty());
  EXPECT_NE(h.logs.back().find("did not stop in time"), std::string::npos);
  *release = true;  // the detached worker finishes into a still-valid output
  std::this_thread::sleep_for(50ms);
}

}  // namespace
}  // namespace norvo::mcp
