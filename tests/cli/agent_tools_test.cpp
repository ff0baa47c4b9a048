// The agent tools of the real `zemnorvo mcp`, driven as an agent drives them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "core/store/norvo_store.hpp"
#include "core/store/quit_suggestion.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class AgentServer {
 public:
  AgentServer() : child_({NORVO_CLI_PATH, "mcp"}) {
    call("initialize", {{"protocolVersion", "2025-11-25"},
                        {"capabilities", json::object()},
                        {"clientInfo", {{"name", "test"}, {"version", "1"}}}});
    child_.write("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n");
  }
  ~AgentServer() {
    child_.closeStdin();
    child_.wait(10s);
  }

  json call(const std::string& method, const json& params) {
    json request = {{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}};
    child_.write(request.dump() + "\n");
    return read();
  }
  json tool(const std::string& name, const json& arguments) {
    return call("tools/call", {{"name", name}, {"arguments", arguments}})["result"];
  }
  void raw(const std::string& line) { child_.write(line); }
  json read() {
    auto line = child_.readLine(20s);
    if (!line) return json();
    return json::parse(*line, nullptr, false);
  }

 private:
  test::ChildProcess child_;
  int id_ = 0;
};

TEST(AgentTools, ListedWithClosedSchemas) {
  AgentServer server;
  auto tools = server.call("tools/list", json::object())["result"]["tools"];
  std::set<std::string> names;
  for (const auto& t : tools) {
    names.insert(t["name"]);
    EXPECT_EQ(t["inputSchema"]["additionalProperties"], false) << t["name"];
  }
  for (const char* expected :
       {"status", "wait_for_capacity", "kill_ai_process", "suggest_quit_apps", "suggestion_status",
        "explain_process", "recent_actions", "disk_usage"})
    EXPECT_TRUE(names.count(expected)) << expected;
}

TEST(AgentTools, StatusRefusedKillAndBadInputKeepTheServerServing) {
  AgentServer server;
  auto status = server.tool("status", {{"process_limit", 3}});
  ASSERT_TRUE(status.contains("structuredContent")) << status;
  auto digest = status["structuredContent"];
  EXPECT_TRUE(digest["level"].is_string());
  EXPECT_TRUE(digest["recommended_parallel_jobs"].is_number_integer());
  ASSERT_TRUE(digest["top_processes"].is_array());
  EXPECT_LE(digest["top_processes"].size(), 3u);

  // pid 1 is the system's: never an agent's to stop, and nothing is logged.
  auto refused = server.tool("kill_ai_process", {{"pid", 1}, {"force", true}});
  EXPECT_EQ(refused["isError"], true);
  EXPECT_EQ(refused["structuredContent"]["ok"], false);
  EXPECT_NE(refused["structuredContent"]["message"].get<std::string>().find("Refused to stop"),
            std::string::npos);
  EXPECT_TRUE(
      server.tool("recent_actions", json::object())["structuredContent"]["actions"].empty());

  EXPECT_EQ(server.tool("kill_ai_process", {{"pid", 0}})["isError"], true);
  EXPECT_EQ(server.tool("kill_ai_process", {{"pid", "1; rm -rf /"}})["isError"], true);
  server.raw("{\"jsonrpc\":\"2.0\",\"id\":99,\"method\":\"tools/call\",\"params\":\n");
  EXPECT_EQ(server.read()["error"]["code"], -32700);
  auto explained = server.tool("explain_process", {{"pid", static_cast<int>(::getpid())}});
  EXPECT_NE(
      explained["content"][0]["text"].get<std::string>().find("pid " + std::to_string(::getpid())),
      std::string::npos);
}

TEST(AgentTools, QuitSuggestionIsFiledAndItsAnswerReadBack) {
  AgentServer server;
  auto unknown = server.tool("suggest_quit_apps", {{"reason", "x"}, {"apps", {"NoSuchApp"}}});
  EXPECT_EQ(unknown["isError"], true);
  EXPECT_TRUE(NorvoStore::pendingSuggestions().empty());
  EXPECT_EQ(server.tool("suggestion_status", {{"id", "../../etc/passwd"}})["isError"], true);

  // The owner's answer, as the app would leave it, is what the agent reads.
  auto filed = QuitSuggestion::make("agent pid 7", "builds are slow", {});
  filed.status = "declined";
  filed.kept = {"Browser"};
  NorvoStore::addSuggestion(filed);
  auto answer = server.tool("suggestion_status", {{"id", filed.id}});
  ASSERT_EQ(answer["isError"], false) << answer;
  EXPECT_EQ(answer["structuredContent"]["status"], "declined");
  EXPECT_EQ(answer["structuredContent"]["kept"][0], "Browser");
}

}  // namespace
}  // namespace norvo
