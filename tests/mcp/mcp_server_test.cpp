// The protocol engine driven in-process through two pipes, as a client would
// drive `zemnorvo mcp` through its standard input and output.
#include "cli/mcp_server.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "cli/child_process.hpp"
#include "mcp/test_tools.hpp"

namespace norvo::mcp {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class Harness {
 public:
  explicit Harness(ServerOptions options = {}) {
    test::registerTestTools(registry_, &probe);
    if (!options.log) options.log = [this](const std::string& line) { logLines.push_back(line); };
    server_ = std::make_unique<Server>(registry_,
                                       ServerInfo{.name = "zemra-norvo",
                                                  .version = "9.8.7",
                                                  .title = "Zemra Norvo",
                                                  .instructions = "Ask before work."},
                                       options);
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
    toServer_ = in[1];
    fromServer_ = out[0];
    serverIn_ = in[0];
    serverOut_ = out[1];
    thread_ = std::thread([this] {
      server_->serve(serverIn_, serverOut_);
      served_ = true;
    });
  }

  ~Harness() {
    closeInput();
    if (thread_.joinable()) thread_.join();
    for (int fd : {fromServer_, serverIn_, serverOut_})
      if (fd >= 0) ::close(fd);
  }

  void sendRaw(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(toServer_, bytes.data(), bytes.size());
      if (n <= 0) throw std::runtime_error("write to server failed");
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void send(const json& message) { sendRaw(message.dump() + "\n"); }

  void request(int id, const std::string& method, json params = json::object()) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}});
  }

  void initialize(const std::string& version = "2025-11-25") {
    request(0, "initialize",
            {{"protocolVersion", version},
             {"capabilities", json::object()},
             {"clientInfo", {{"name", "test"}, {"version", "1"}}}});
    auto reply = next();
    ASSERT_TRUE(reply.contains("result")) << reply;
    send({{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}});
  }

  // The next line the server writes, parsed; a line that is not JSON fails the
  // test, since the server must write nothing else.
  json next(std::chrono::milliseconds timeout = 5000ms) {
    auto line = nextLine(timeout);
    if (!line) {
      ADD_FAILURE() << "no message from the server within " << timeout.count() << " ms";
      return json();
    }
    auto parsed = json::parse(*line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON on the output: " << *line;
    EXPECT_EQ(parsed.value("jsonrpc", ""), "2.0") << *line;
    return parsed;
  }

  // The next message that is not a progress notification.
  json nextResponse(std::vector<json>* progress = nullptr) {
    for (;;) {
      json m = next();
      if (m.value("method", "") == "notifications/progress") {
        if (progress) progress->push_back(m["params"]);
        continue;
      }
      return m;
    }
  }

  std::optional<std::string> nextLine(std::chrono::milliseconds timeout) {
    return test::readLine(fromServer_, buffer_, timeout);
  }

  void expectSilence(std::chrono::milliseconds wait = 300ms) {
    auto line = nextLine(wait);
    EXPECT_FALSE(line) << "unexpected message: " << *line;
  }

  void closeInput() {
    if (toServer_ >= 0) ::close(toServer_);
    toServer_ = -1;
  }

  // Waits for serve() to return; false when it did not within `timeout`.
  bool waitServed(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!served_) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    thread_.join();
    return true;
  }

  Server& server() { return *server_; }

  test::ToolProbe probe;
  std::vector<std::string> logLines;

 private:
  ToolRegistry registry_;
  std::unique_ptr<Server> server_;
  int toServer_ = -1, fromServer_ = -1, serverIn_ = -1, serverOut_ = -1;
  std::thread thread_;
  std::atomic<bool> served_{false};
  std::string buffer_;
};

json errorOf(const json& reply) { return reply.contains("error") ? reply["error"] : json(); }

TEST(McpNegotiation, AnswersTheRequestedVersionWhenSupportedElseTheNewest) {
  struct Case {
    std::string requested, answered;
  } cases[] = {
      {"2025-11-25", "2025-11-25"}, {"2025-06-18", "2025-06-18"}, {"2025-03-26", "2025-03-26"},
      {"2024-11-05", "2024-11-05"}, {"2024-10-07", "2025-11-25"}, {"2099-01-01", "2025-11-25"},
      {"", "2025-11-25"},           {"latest", "2025-11-25"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(negotiateProtocolVersion(c.requested), c.answered) << c.requested;
    Harness h;
    h.request(1, "initialize",
              {{"protocolVersion", c.requested}, {"capabilities", json::object()}});
    auto reply = h.next();
    EXPECT_EQ(reply["id"], 1);
    EXPECT_EQ(reply["result"]["protocolVersion"], c.answered) << c.requested;
  }
}

TEST(McpLifecycle, InitializeDescribesTheServer) {
  Harness h;
  h.request(7, "initialize", {{"protocolVersion", "2025-11-25"}, {"capabilities", json::object()}});
  auto result = h.next()["result"];
  EXPECT_EQ(result["serverInfo"]["name"], "zemra-norvo");
  EXPECT_EQ(result["serverInfo"]["version"], "9.8.7");
  EXPECT_EQ(result["capabilities"], json({{"tools", {{"listChanged", false}}}}));
  EXPECT_EQ(result["instructions"], "Ask before work.");
}

TEST(McpLifecycle, OnlyPingAndInitializeAreServedBeforeInitialize) {
  Harness h;
  h.request(1, "ping");
  EXPECT_EQ(h.next(), json({{"jsonrpc", "2.0"}, {"id", 1}, {"result", json::object()}}));
  h.request(2, "tools/list");
  EXPECT_EQ(errorOf(h.next())["code"], rpc_error::kInvalidRequest);
  h.request(3, "tools/call", {{"name", "echo"}, {"arguments", {{"text", "x"}}}});
  EXPECT_EQ(errorOf(h.next())["code"], rpc_error::kInvalidRequest);
  h.initialize();
  h.request(4, "tools/list");
  EXPECT_TRUE(h.next().contains("result"));
  h.request(5, "initialize", {{"protocolVersion", "2025-11-25"}});
  EXPECT_EQ(errorOf(h.next())["code"], rpc_error::kInvalidRequest);
}

TEST(McpTools, ListGivesEveryToolWithAClosedObjectSchema) {
  Harness h;
  h.initialize();
  h.request(1, "tools/list", {{"cursor", "ignored"}});
  auto tools = h.next()["result"]["tools"];
  ASSERT_EQ(tools.size(), 4u);
  std::vector<std::string> names;
  for (const auto& t : tools) {
    names.push_back(t["name"]);
    EXPECT_EQ(t["inputSchema"]["type"], "object") << t;
    EXPECT_EQ(t["inputSchema"]["additionalProperties"], false) << t;
    EXPECT_TRUE(t["inputSchema"]["properties"].is_object()) << t;
    EXPECT_TRUE(t["description"].is_string()) << t;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"echo", "fail", "inspect", "slow"}));
  EXPECT_EQ(tools[0]["inputSchema"]["required"], json({"text"}));
  EXPECT_EQ(tools[2]["inputSchema"]["properties"]["pid"]["minimum"], 1);
}

TEST(McpTools, CallResultsAndToolErrors) {
  Harness h;
  h.initialize();
  struct Case {
    json params;
    bool isError;
    std::string text;  // expected text, or a part of it for errors
  };
  auto call = [](const char* name, json arguments) {
    return json{{"name", name}, {"arguments", std::move(arguments)}};
  };
  // clang-format off
  const Case cases[] = {
      {call("echo", {{"text", "ab"}, {"times", 3}}), false, "ababab"},
      {call("echo", {{"text", "ab"}, {"times", 2.0}}), false, "abab"},
      {call("echo", {{"text", "ab"}, {"times", 9}}), true, "from 1 to 5"},
      {call("echo", {{"text", 5}}), true, "\"text\": expected a string"},
      {call("echo", json::object()), true, "Missing required argument"},
      {{{"name", "echo"}}, true, "Missing required argument \"text\""},
      {call("echo", {{"text", "a"}, {"shell", "rm"}}), true, "Unknown argument \"shell\""},
      {call("echo", {{"text", std::string(201, 'x')}}), true, "longer than 200"},
      {call("inspect", {{"pid", 0}}), true, "\"pid\""},
      {call("inspect", {{"pid", -5}}), true, "\"pid\""},
      {call("inspect", {{"pid", 4294967297LL}}), true, "\"pid\""},
      {call("inspect", {{"pid", 1.5}}), true, "expected an integer"},
      {call("inspect", {{"pid", "12"}}), true, "expected an integer"},
      {call("fail", {{"kind", "tool_error"}}), true, "the disk is not mounted"},
      {call("fail", {{"kind", "exception"}}), true, "Tool fail failed: vector too long"},
      {call("fail", {{"kind", "other"}}), true, "Tool fail failed."},
      {call("fail", {{"kind", "bogus"}}), true, "must be one of"},
  };
  // clang-format on
  int id = 100;
  for (const auto& c : cases) {
    h.request(++id, "tools/call", c.params);
    auto reply = h.next();
    ASSERT_TRUE(reply.contains("result")) << c.params << " -> " << reply;
    EXPECT_EQ(reply["id"], id);
    const auto& result = reply["result"];
    EXPECT_EQ(result["isError"], c.isError) << c.params << " -> " << reply;
    ASSERT_EQ(result["content"].size(), 1u);
    EXPECT_EQ(result["content"][0]["type"], "text");
    std::string text = result["content"][0]["text"];
    if (c.isError) {
      EXPECT_NE(text.find(c.text), std::string::npos) << text;
    } else {
      EXPECT_EQ(text, c.text);
    }
  }
}

TEST(McpTools, StructuredResultsCarryTheSameObjectAsText) {
  Harness h;
  h.initialize();
  h.request(1, "tools/call",
            {{"name", "inspect"},
             {"arguments", {{"pid", 2147483647}, {"force", true}, {"tags", {"a", "é"}}}}});
  auto result = h.next()["result"];
  json expected = {{"pid", 2147483647}, {"force", true}, {"tags", {"a", "é"}}};
  EXPECT_EQ(result["structuredContent"], expected);
  EXPECT_EQ(json::parse(result["content"][0]["text"].get<std::string>()), expected);
}

TEST(McpErrors, EveryMalformedMessageGetsItsErrorAndServingGoesOn) {
  struct Case {
    std::string line;
    int code;
    json id;
  };
  using namespace rpc_error;
  // clang-format off
  const Case cases[] = {
      {"not json", kParseError, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,", kParseError, nullptr},
      {"\xff\xfe{}", kParseError, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"x\":\"\xc3\x28\"}", kParseError, nullptr},
      {std::string(100, '[') + std::string(100, ']'), kParseError, nullptr},
      {"[]", kInvalidRequest, nullptr},
      {"[{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}]", kInvalidRequest, nullptr},
      {"42", kInvalidRequest, nullptr},
      {"\"ping\"", kInvalidRequest, nullptr},
      {"null", kInvalidRequest, nullptr},
      {"{\"jsonrpc\":\"1.0\",\"id\":3,\"method\":\"ping\"}", kInvalidRequest, 3},
      {"{\"id\":4,\"method\":\"ping\"}", kInvalidRequest, 4},
      {"{\"jsonrpc\":\"2.0\",\"id\":null,\"method\":\"ping\"}", kInvalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1.5,\"method\":\"ping\"}", kInvalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":{},\"method\":\"ping\"}", kInvalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":5}", kInvalidRequest, 5},
      {"{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":7}", kInvalidRequest, 6},
      {"{\"jsonrpc\":\"2.0\",\"id\":\"s\",\"method\":\"resources/list\"}", kMethodNotFound, "s"},
      {"{\"jsonrpc\":\"2.0\",\"id\":8,\"method\":\"ping\",\"params\":[1]}", kInvalidParams, 8},
      {"{\"jsonrpc\":\"2.0\",\"id\":9,\"method\":\"tools/call\",\"params\":{}}", kInvalidParams, 9},
      {"{\"jsonrpc\":\"2.0\",\"id\":10,\"method\":\"tools/call\",\"params\":{\"name\":\"nope\"}}",
       kInvalidParams, 10},
      {"{\"jsonrpc\":\"2.0\",\"id\":11,\"method\":\"tools/call\",\"params\":{\"name\":\"echo\","
       "\"arguments\":[\"x\"]}}", kInvalidParams, 11},
  };
  // clang-format on
  Harness h;
  h.initialize();
  int pingId = 1000;
  for (const auto& c : cases) {
    h.sendRaw(c.line + "\n");
    auto reply = h.next();
    EXPECT_EQ(errorOf(reply)["code"], c.code) << c.line << " -> " << reply;
    EXPECT_TRUE(errorOf(reply)["message"].is_string()) << reply;
    EXPECT_EQ(reply["id"], c.id) << c.line;
    EXPECT_FALSE(reply.contains("result"));
    h.request(++pingId, "ping");
    EXPECT_EQ(h.next()["id"], pingId) << "server stopped answering after: " << c.line;
  }
}

TEST(McpErrors, NotificationsAndClientResponsesGetNoAnswer) {
  Harness h;
  h.initialize();
  for (const char* line : {
           "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}",
           "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/roots/list_changed\"}",
           "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/cancelled\",\"params\":{\"requestId\":"
           "77}}",
           "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/cancelled\",\"params\":\"x\"}",
           "{\"jsonrpc\":\"2.0\",\"method\":\"made/up\",\"params\":[1,2]}",
           "{\"jsonrpc\":\"2.0\",\"id\":3,\"result\":{}}",
           "{\"jsonrpc\":\"2.0\",\"id\":4,\"error\":{\"code\":1,\"message\":\"m\"}}",
           "",
           "   \r",
       }) {
    h.sendRaw(std::string(line) + "\n");
  }
  h.expectSilence();
  h.request(1, "ping");
  EXPECT_EQ(h.next()["id"], 1);
}

TEST(McpErrors, OversizedLineIsRefusedAndTheRestOfItDiscarded) {
  Harness h({.maxLineBytes = 1024});
  h.initialize();
  // Sent in pieces so the cap is crossed in the middle of a read.
  std::string big = "{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":\"ping\",\"pad\":\"" +
                    std::string(5000, 'x') + "\"}";
  h.sendRaw(big.substr(0, 700));
  h.sendRaw(big.substr(700, 2000));
  h.sendRaw(big.substr(2700) + "\n{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":\"ping\"}\n");
  auto refused = h.next();
  EXPECT_EQ(errorOf(refused)["code"], rpc_error::kInvalidRequest);
  EXPECT_EQ(refused["id"], nullptr);
  EXPECT_EQ(h.next()["id"], 6);  // the oversized message itself is never answered
  h.expectSilence();
  // A line exactly at the cap is still served.
  std::string head = "{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"ping\",\"pad\":\"";
  h.sendRaw(head + std::string(1024 - head.size() - 2, 'y') + "\"}\n");
  EXPECT_EQ(h.next()["id"], 7);
}

TEST(McpErrors, RandomBytesNeverStopTheServer) {
  Harness h({.maxLineBytes = 4096});
  h.initialize();
  std::mt19937 rng(20240611);
  // clang-format off
  const std::string fragments[] = {"{", "}", "[", "]", "\"", ":", ",", "\\", "\"jsonrpc\"", "\"2.0\"",
                                   "\"id\"", "\"method\"", "\"tools/call\"", "\"params\"", "null",
                                   "1e999", "-0", "\n", "\xc0\xaf", "\xff"};
  // clang-format on
  for (int round = 0; round < 300; ++round) {
    std::string junk;
    int pieces = static_cast<int>(rng() % 40);
    for (int i = 0; i < pieces; ++i) {
      if (rng() % 3 == 0) {
        junk.push_back(static_cast<char>(rng() % 256));
      } else {
        junk += fragments[rng() % std::size(fragments)];
      }
    }
    h.sendRaw(junk);
  }
  // Whatever was half-sent ends here; every answer so far must be JSON-RPC.
  h.sendRaw("\n{\"jsonrpc\":\"2.0\",\"id\":\"alive\",\"method\":\"ping\"}\n");
  for (;;) {
    auto m = h.next();
    if (m.is_null()) break;
    if (m.value("id", json()) == "alive") break;
  }
}

TEST(McpCalls, ProgressNotificationsRiseAndCarryTheToken) {
  Harness h;
  h.initialize();
  h.request(1, "tools/call",
            {{"name", "slow"},
             {"arguments", {{"steps", 4}, {"step_ms", 5}}},
             {"_meta", {{"progressToken", "tok-1"}}}});
  std::vector<json> progress;
  auto reply = h.nextResponse(&progress);
  EXPECT_EQ(reply["result"]["structuredContent"], json({{"steps", 4}}));
  ASSERT_EQ(progress.size(), 4u);
  for (std::size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i]["progressToken"], "tok-1");
    EXPECT_EQ(progress[i]["progress"], static_cast<double>(i));
    EXPECT_EQ(progress[i]["total"], 4.0);
    EXPECT_EQ(progress[i]["message"], "step " + std::to_string(i + 1));
  }

  // Without a token the same call sends no notification.
  h.request(2, "tools/call", {{"name", "slow"}, {"arguments", {{"steps", 3}, {"step_ms", 5}}}});
  progress.clear();
  EXPECT_EQ(h.nextResponse(&progress)["id"], 2);
  EXPECT_TRUE(progress.empty());
}

TEST(McpCalls, CancelledCallStopsAndSendsNoResponse) {
  Harness h;
  h.initialize();
  h.request(42, "tools/call",
            {{"name", "slow"}, {"arguments", {{"steps", 1}, {"step_ms", 60000}}}});
  while (h.probe.started == 0) std::this_thread::sleep_for(5ms);
  auto before = std::chrono::steady_clock::now();
  h.send({{"jsonrpc", "2.0"},
          {"method", "notifications/cancelled"},
          {"params", {{"requestId", 42}, {"reason", "user pressed escape"}}}});
  while (h.probe.cancelled == 0 && std::chrono::steady_clock::now() - before < 5s)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(h.probe.cancelled, 1);
  h.expectSilence();
  // The id is free again once the call ended.
  h.request(42, "ping");
  EXPECT_EQ(h.next()["id"], 42);
}

TEST(McpCalls, CancelOfAnotherIdLeavesTheCallRunning) {
  Harness h;
  h.initialize();
  h.request(1, "tools/call", {{"name", "slow"}, {"arguments", {{"steps", 2}, {"step_ms", 100}}}});
  h.send({{"jsonrpc", "2.0"},
          {"method", "notifications/cancelled"},
          {"params", {{"requestId", "1"}}}});
  EXPECT_EQ(h.nextResponse()["result"]["isError"], false);
  EXPECT_EQ(h.probe.cancelled, 0);
}

TEST(McpCalls, PingAndListAreAnsweredWhileALongCallRuns) {
  Harness h;
  h.initialize();
  h.request(1, "tools/call", {{"name", "slow"}, {"arguments", {{"steps", 1}, {"step_ms", 60000}}}});
  while (h.probe.started == 0) std::this_thread::sleep_for(5ms);
  auto start = std::chrono::steady_clock::now();
  h.request(2, "ping");
  EXPECT_EQ(h.next()["id"], 2);
  h.request(3, "tools/call", {{"name", "echo"}, {"arguments", {{"text", "hi"}}}});
  EXPECT_EQ(h.next()["result"]["content"][0]["text"], "hi");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  // A second call with the id still in flight is refused.
  h.request(1, "tools/call", {{"name", "echo"}, {"arguments", {{"text", "again"}}}});
  auto dup = h.next();
  EXPECT_EQ(errorOf(dup)["code"], rpc_error::kInvalidRequest);
  EXPECT_EQ(dup["id"], 1);
  h.send(
      {{"jsonrpc", "2.0"}, {"method", "notifications/cancelled"}, {"params", {{"requestId", 1}}}});
}

TEST(McpCalls, CallsBeyondTheLimitAreRefusedAsToolErrors) {
  Harness h({.maxConcurrentCalls = 2});
  h.initialize();
  for (int id : {1, 2})
    h.request(id, "tools/call",
              {{"name", "slow"}, {"arguments", {{"steps", 1}, {"step_ms", 60000}}}});
  while (h.probe.started < 2) std::this_thread::sleep_for(5ms);
  h.request(3, "tools/call", {{"name", "echo"}, {"arguments", {{"text", "x"}}}});
  auto refused = h.next();
  EXPECT_EQ(refused["id"], 3);
  EXPECT_EQ(refused["result"]["isError"], true);
  h.send(
      {{"jsonrpc", "2.0"}, {"method", "notifications/cancelled"}, {"params", {{"requestId", 1}}}});
  while (h.probe.cancelled < 1) std::this_thread::sleep_for(5ms);
  // The slot is free once the cancelled call has returned.
  for (int attempt = 0; attempt < 100; ++attempt) {
    h.request(4, "tools/call", {{"name", "echo"}, {"arguments", {{"text", "x"}}}});
    auto reply = h.next();
    if (reply["result"]["isError"] == false) return;
    std::this_thread::sleep_for(10ms);
  }
  ADD_FAILURE() << "the freed slot was never reused";
}

TEST(McpShutdown, EndOfInputCancelsRunningCallsAndReturnsPromptly) {
  Harness h;
  h.initialize();
  h.request(1, "tools/call", {{"name", "slow"}, {"arguments", {{"steps", 1}, {"step_ms", 60000}}}});
  while (h.probe.started == 0) std::this_thread::sleep_for(5ms);
  auto start = std::chrono::steady_clock::now();
  h.closeInput();
  EXPECT_TRUE(h.waitServed(3s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(h.probe.cancelled, 1);
}

TEST(McpShutdown, StopEndsServingAndALastLineWithoutLineFeedIsAnswered) {
  {
    Harness h;
    h.initialize();
    h.server().stop();
    EXPECT_TRUE(h.waitServed(3s));
  }
  {
    Harness h;
    h.sendRaw("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}");
    h.closeInput();
    EXPECT_EQ(h.next()["id"], 1);
    EXPECT_TRUE(h.waitServed(3s));
  }
}

TEST(McpShutdown, AHandlerThatIgnoresCancellationIsLeftBehindAfterTheGrace) {
  ToolRegistry registry;
  auto release = std::make_shared<std::atomic<bool>>(false);
  registry.add({.name = "stubborn", .handler = [release](const Arguments&, ToolContext&) {
                  while (!*release) std::this_thread::sleep_for(5ms);
                  return ToolResult::text("late");
                }});
  std::vector<std::string> logs;
  Server server(registry, {.name = "n", .version = "1"},
                {.shutdownGrace = 200ms, .log = [&](const std::string& l) { logs.push_back(l); }});
  int in[2], out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  std::string lines =
      "{\"jsonrpc\":\"2.0\",\"id\":0,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
      "\"2025-11-25\"}}\n{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/call\",\"params\":{"
      "\"name\":\"stubborn\"}}\n";
  ASSERT_EQ(::write(in[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  ::close(in[1]);
  auto start = std::chrono::steady_clock::now();
  server.serve(in[0], out[1]);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_FALSE(logs.empty());
  EXPECT_NE(logs.back().find("did not stop in time"), std::string::npos);
  *release = true;  // the detached worker finishes into a still-valid output
  std::this_thread::sleep_for(50ms);
  ::close(in[0]);
  ::close(out[0]);
  ::close(out[1]);
}

}  // namespace
}  // namespace norvo::mcp
