// The real `zemnorvo mcp`: its agent tools driven as an agent drives them, and
// how the process ends. zemnorvo_mcp_e2e.mjs lists the tools and drives them
// through the official client.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

#include "child_process.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

TEST(AgentTools, StatusRefusedKillAndBadInputKeepTheServerServing) {
  test::FreshHome home;
  test::AgentServer server;
  auto digest = server.tool("status", {{"process_limit", 3}})["structuredContent"];
  EXPECT_TRUE(digest["level"].is_string()) << digest;
  EXPECT_TRUE(digest["recommended_parallel_jobs"].is_number_integer());
  EXPECT_LE(digest["top_processes"].size(), 3u);

  // pid 1 is the system's: never an agent's to stop, and nothing is logged.
  auto refused = server.tool("kill_ai_process", {{"pid", 1}, {"force", true}});
  EXPECT_EQ(refused["isError"], true);
  EXPECT_EQ(refused["structuredContent"]["ok"], false);
  EXPECT_EQ(refused["structuredContent"]["message"].get<std::string>().rfind("Refused to stop", 0),
            0u)
      << refused;
  EXPECT_EQ(server.tool("recent_actions", json::object())["structuredContent"]["actions"],
            json::array());

  EXPECT_EQ(server.tool("kill_ai_process", {{"pid", 0}})["isError"], true);
  EXPECT_EQ(server.tool("kill_ai_process", {{"pid", "1; rm -rf /"}})["isError"], true);
  server.child.write("{\"jsonrpc\":\"2.0\",\"id\":99,\"method\":\"tools/call\",\"params\":\n");
  EXPECT_EQ(server.read()["error"]["code"], -32700);
  auto explained = server.tool("explain_process", {{"pid", ::getpid()}});
  EXPECT_NE(
      explained["content"][0]["text"].get<std::string>().find("pid " + std::to_string(::getpid())),
      std::string::npos);

  auto unknown = server.tool("suggest_quit_apps", {{"reason", "x"}, {"apps", {"NoSuchApp"}}});
  EXPECT_EQ(unknown["isError"], true);
  EXPECT_TRUE(NorvoStore::pendingSuggestions(home.store()).empty());
  EXPECT_EQ(server.tool("suggestion_status", {{"id", "../../etc/passwd"}})["isError"], true);

  // The owner's answer, as the app would leave it, is what the agent reads.
  auto filed = QuitSuggestion::make("agent pid 7", "builds are slow", {});
  filed.status = "declined";
  filed.kept = {"Browser"};
  NorvoStore::addSuggestion(filed, home.store());
  auto answer = server.tool("suggestion_status", {{"id", filed.id}});
  ASSERT_EQ(answer["isError"], false) << answer;
  EXPECT_EQ(answer["structuredContent"]["status"], "declined");
  EXPECT_EQ(answer["structuredContent"]["kept"], json({"Browser"}));
}

TEST(McpCommand, EndOfInputInterruptAndTerminateEndItWithStatusZero) {
  {
    test::AgentServer server;
    server.child.closeStdin();
    EXPECT_EQ(server.child.wait(5s), 0);
    EXPECT_EQ(server.child.readRest(1s), "");
  }
  for (int sig : {SIGINT, SIGTERM}) {
    test::AgentServer server;
    auto start = std::chrono::steady_clock::now();
    server.child.signal(sig);
    EXPECT_EQ(server.child.wait(5s), 0) << strsignal(sig);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  }
}

TEST(McpCommand, AClientThatStopsReadingDoesNotKillItWithSigpipe) {
  test::ChildProcess child({NORVO_CLI_PATH, "mcp"});
  child.closeStdout();
  child.write(
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
      "\"2025-11-25\"}}\n{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}\n");
  // The failed write ends the server by itself.
  EXPECT_EQ(child.wait(5s), 0);
}

}  // namespace
}  // namespace norvo
