// `zemnorvo mcp` as a process: how it starts, what it writes, how it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "child_process.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kInitialize =
    "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
    "\"2025-11-25\",\"capabilities\":{},\"clientInfo\":{\"name\":\"claude-code\",\"version\":"
    "\"2.1.0\"}}}\n";

json readMessage(test::ChildProcess& child) {
  auto line = child.readLine(5s);
  if (!line) {
    ADD_FAILURE() << "no line from zemnorvo mcp";
    return json();
  }
  auto parsed = json::parse(*line, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << "not JSON on standard output: " << *line;
  return parsed;
}

TEST(McpCommand, IntroducesItselfAsTheProductsServer) {
  test::ChildProcess child({NORVO_CLI_PATH, "mcp"});
  child.write(kInitialize);
  auto init = readMessage(child);
  EXPECT_EQ(init["result"]["serverInfo"]["name"], "zemra-norvo");
  EXPECT_FALSE(init["result"]["serverInfo"]["version"].get<std::string>().empty());
  EXPECT_FALSE(init["result"]["instructions"].get<std::string>().empty());
  child.write("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n");
  child.write("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"tools/list\"}\n");
  auto list = readMessage(child);
  EXPECT_TRUE(list["result"]["tools"].is_array()) << list;
  child.closeStdin();
  auto status = child.wait(5s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_EQ(child.readRest(1s), "");
}

TEST(McpCommand, ExitsWithStatusZeroOnInterruptAndTerminate) {
  for (int sig : {SIGINT, SIGTERM}) {
    test::ChildProcess child({NORVO_CLI_PATH, "mcp"});
    child.write(kInitialize);
    readMessage(child);
    auto start = std::chrono::steady_clock::now();
    child.signal(sig);
    auto status = child.wait(5s);
    ASSERT_TRUE(status) << strsignal(sig);
    EXPECT_TRUE(WIFEXITED(*status)) << strsignal(sig);
    EXPECT_EQ(WEXITSTATUS(*status), 0) << strsignal(sig);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  }
}

TEST(McpCommand, AClientThatStopsReadingDoesNotKillItWithSigpipe) {
  test::ChildProcess child({NORVO_CLI_PATH, "mcp"});
  child.closeStdout();
  child.write(kInitialize);
  child.write("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}\n");
  auto status = child.wait(5s);  // the failed write ends the server by itself
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status)) << "killed by signal " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace
}  // namespace norvo
