// The cleanup as agents and the owner reach it: an agent previews and
// suggests through `zemnorvo mcp`, the owner answers with `zemnorvo answer`,
// the agent reads the outcome back; under an agent the owner's commands,
// the uninstaller's too, refuse.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "cli/child_process.hpp"
#include "core/store/norvo_store.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A fresh home whose caches and temporary folder are its own too, with a
// file in the pip cache.
struct CleanupFreshHome {
  test::FreshHome fresh;
  test::ScopedEnv cache{"XDG_CACHE_HOME", fresh.home() / ".cache"};
  test::ScopedEnv state{"XDG_STATE_HOME", fresh.home() / ".local/state"};
  test::ScopedEnv tmp{"TMPDIR", fresh.home() / "tmp"};
  fs::path blob = fresh.home() / ".cache/pip/http/blob";

  CleanupFreshHome() {
    fs::create_directories(fresh.home() / "tmp");
    fs::create_directories(blob.parent_path());
    std::ofstream(blob) << std::string(20000, 'b');
  }
};

json itemNamed(const json& items, const std::string& id) {
  for (const auto& i : items)
    if (i["id"] == id) return i;
  return nullptr;
}

TEST(CleanupCommands, AnAgentsSuggestionIsAnsweredByTheOwnerAndReadBack) {
  CleanupFreshHome h;
  const auto& home = h.fresh.home();

  test::AgentServer server;
  auto items =
      server.tool("cleanup_preview", {{"measure_seconds", 5}})["structuredContent"]["items"];
  auto pip = itemNamed(items, "pip-cache");
  ASSERT_FALSE(pip.is_null()) << items;
  EXPECT_EQ(pip["path_list"], json({(home / ".cache/pip").string()}));

  auto filed = server.tool("suggest_cleanup", {{"item_ids", {"pip-cache", "no-such-item"}},
                                               {"reason", "the disk is full"}});
  ASSERT_EQ(filed["isError"], false) << filed;
  EXPECT_EQ(filed["structuredContent"]["unknown_ids"], json({"no-such-item"}));
  auto id = filed["structuredContent"]["id"].get<std::string>();
  EXPECT_TRUE(fs::exists(h.blob));  // filing removes nothing

  auto answered = test::zemnorvo({"answer", id, "clean"});
  EXPECT_EQ(answered.status, 0) << answered.errors;
  EXPECT_FALSE(fs::exists(h.blob));
  EXPECT_TRUE(fs::is_directory(home / ".cache/pip"));

  auto outcome = server.tool("suggestion_status", {{"id", id}})["structuredContent"];
  EXPECT_EQ(outcome["status"], "accepted");
  EXPECT_EQ(outcome["cleaned"], json({"pip-cache"}));
  auto log = server.tool("recent_actions", {{"limit", 1}})["structuredContent"]["actions"];
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["name"], "pip-cache");
  EXPECT_EQ(test::zemnorvo({"answer", id, "keep"}).status, 1);  // answered once only
}

// The owner's cleanup and uninstall commands, and answering either kind of
// suggestion, under an agent: refused, naming the agent tool to use instead.
TEST(CleanupCommands, OwnerCommandsRefusedUnderAnAgentButForADryRun) {
  CleanupFreshHome h;
  auto s = CleanupSuggestion::make("x", {"pip-cache"});
  auto u = UninstallSuggestion::make("x", "Demo", "/nonexistent/Demo.AppImage");
  ASSERT_TRUE(NorvoStore::addCleanup(s, h.fresh.store()));
  ASSERT_TRUE(NorvoStore::addUninstall(u, h.fresh.store()));
  test::TempDir dir;
  auto asAgent = [&](const std::string& arguments) {
    return test::zemnorvoAsAgent(dir.path(), arguments);
  };
  const std::string refused = " acts for the owner and is refused under an AI agent";
  for (const auto& [command, arguments, tool] :
       {std::tuple<std::string, std::string, std::string>{
            "zemnorvo cleanup run", "cleanup run pip-cache", "suggest_cleanup"},
        {"zemnorvo answer", "answer " + s.id + " clean", "suggest_cleanup"},
        {"zemnorvo uninstall", "uninstall Demo --permanently", "suggest_uninstall"},
        {"zemnorvo answer", "answer " + u.id + " uninstall", "suggestion_status"}}) {
    auto said = asAgent(arguments);
    EXPECT_EQ(said.rfind(command + refused, 0), 0u) << said;
    EXPECT_NE(said.find("the " + tool + " tool"), std::string::npos) << said;
  }
  // Looking is allowed: a dry run shows what would go and removes nothing.
  auto dry = asAgent("cleanup run pip-cache --dry-run");
  EXPECT_NE(dry.find("would go, pip-cache"), std::string::npos) << dry;
  EXPECT_TRUE(fs::exists(h.blob));
  EXPECT_EQ(NorvoStore::cleanup(s.id, h.fresh.store())->status, "pending");
  EXPECT_EQ(NorvoStore::uninstall(u.id, h.fresh.store())->status, "pending");
}

}  // namespace
}  // namespace norvo
