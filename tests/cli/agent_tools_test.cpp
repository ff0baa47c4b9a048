// The real `zemnorvo mcp`: the uninstall tools and how the process ends. The
// other agent tools are driven through the official client by
// zemnorvo_mcp_e2e.mjs.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>

#include "child_process.hpp"
#include "core/store/norvo_store.hpp"
#include "core/uninstall/uninstall.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

TEST(McpCommand, AClientThatStopsReadingDoesNotKillItWithSigpipe) {
  test::ChildProcess child({test::cliPath(), "mcp"});
  child.closeStdout();
  child.write(
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
      "\"2025-11-25\"}}\n{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}\n");
  // The failed write ends the server by itself.
  EXPECT_EQ(child.wait(5s), 0);
}

TEST(AgentTools, UninstallSuggestionIsFiledAndReadBackThenTerminateEndsTheServer) {
  // The server runs with this test's HOME: one AppImage with its settings.
  namespace fs = std::filesystem;
  fs::path home = std::getenv("HOME");
  auto appImage = home / "Applications/Demo-2.1.AppImage";
  fs::create_directories(appImage.parent_path());
  std::ofstream(appImage) << "ELF";
  fs::create_directories(home / ".config/Demo");
  std::ofstream(home / ".config/Demo/settings") << "{}";

  auto pendingBefore = NorvoStore::pendingUninstalls().size();
  test::AgentServer server;
  // Which apps and leftovers there are, and which are preselected, is the
  // uninstaller's own test; here that the listing tools reach them.
  auto apps = server.tool("installed_apps", json::object())["structuredContent"]["apps"];
  EXPECT_EQ(apps.size(), 1u) << apps;
  auto leftovers =
      server.tool("app_leftovers", {{"app", "demo"}})["structuredContent"]["leftovers"];
  EXPECT_EQ(leftovers.size(), 1u) << leftovers;

  auto product = server.tool("suggest_uninstall", {{"app", "Zemra Norvo"}, {"reason", "x"}});
  EXPECT_EQ(product["isError"], true);
  EXPECT_EQ(product["content"][0]["text"],
            "Zemra Norvo cannot be uninstalled through its own agent server.");
  auto unknown = server.tool("suggest_uninstall", {{"app", "Nope"}, {"reason", "x"}});
  EXPECT_EQ(unknown["content"][0]["text"],
            "No installed app named Nope. Call installed_apps to see the apps the owner can "
            "uninstall.");
  EXPECT_EQ(NorvoStore::pendingUninstalls().size(), pendingBefore);

  auto filed = server.tool("suggest_uninstall", {{"app", "Demo"}, {"reason", "the disk is full"}});
  ASSERT_EQ(filed["isError"], false) << filed;
  auto id = filed["structuredContent"]["id"].get<std::string>();
  EXPECT_TRUE(fs::exists(appImage));  // filing removes nothing
  EXPECT_EQ(server.tool("suggestion_status", {{"id", id}})["structuredContent"]["status"],
            "pending");

  // End of input and SIGINT end the server in the *_e2e.mjs scripts; SIGTERM here.
  server.child.signal(SIGTERM);
  EXPECT_EQ(server.child.wait(2s), 0);
  // The home is shared with the other tests of this process.
  fs::remove(appImage);
  fs::remove_all(home / ".config/Demo");
}

}  // namespace
}  // namespace norvo
