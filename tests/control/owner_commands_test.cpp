// The owner's commands of the command-line tool, run as the owner runs them:
// the pending suggestions, the answer an agent reads back, and stopping an
// agent's task with the owner named in the actions log.
#include <gtest/gtest.h>

#include "core/store/norvo_store.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

std::pair<int, std::string> zemnorvo(const std::vector<std::string>& arguments) {
  return test::run(NORVO_CLI_PATH, arguments);
}

TEST(OwnerCommands, ListAndAnswerAQuitSuggestion) {
  // The tool runs with this test's HOME, so it sees the same store.
  QuitSuggestion::Item closed;
  closed.name = "Closed";
  closed.bundlePath = "/nonexistent/Closed.app";
  closed.mainPid = 2147483647;
  auto s = QuitSuggestion::make("claude", "the build is slow", {closed});
  NorvoStore::addSuggestion(s);
  NorvoStore::addCleanup(CleanupSuggestion::make("caches are big", {"npm-cache"}));

  auto [listed, table] = zemnorvo({"suggestions"});
  EXPECT_EQ(listed, 0);
  EXPECT_NE(table.find(s.id), std::string::npos) << table;
  EXPECT_NE(table.find("quit 1 app(s), from claude: the build is slow"), std::string::npos);
  EXPECT_NE(table.find("clean npm-cache: caches are big"), std::string::npos) << table;

  auto [jsonStatus, json] = zemnorvo({"suggestions", "--json"});
  ASSERT_EQ(jsonStatus, 0);
  auto parsed = json_codec::decode(json);
  ASSERT_TRUE(parsed);
  auto listedQuit = parsed->at("quit").at(0).get<QuitSuggestion>();
  EXPECT_EQ(listedQuit.id, s.id);
  EXPECT_EQ(listedQuit.items, s.items);
  EXPECT_EQ(parsed->at("cleanup").size(), 1u);
  EXPECT_TRUE(parsed->at("uninstall").empty());

  auto [answered, said] = zemnorvo({"answer", s.id, "keep"});
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(said, "declined: quit none; kept Closed\n");
  auto back = NorvoStore::suggestion(s.id);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->status, "declined");
  EXPECT_EQ(back->kept, std::vector<std::string>{"Closed"});
  EXPECT_TRUE(back->answeredAt.has_value());

  // Answered once only; unknown ids and choices are errors.
  EXPECT_EQ(zemnorvo({"answer", s.id, "quit"}).first, 1);
  EXPECT_EQ(zemnorvo({"answer", "NO-SUCH-ID", "quit"}).first, 1);
  EXPECT_NE(zemnorvo({"answer", s.id, "maybe"}).first, 0);
  EXPECT_EQ(NorvoStore::suggestion(s.id)->status, "declined");
}

TEST(OwnerCommands, StopAsTheOwner) {
  test::TempDir dir;
  test::Processes tree;
  auto shell = test::copyProgram("/bin/sh", dir.path() / "claude");
  auto compiler = test::copyProgram("/bin/sleep", dir.path() / "cc1plus");
  auto agent = tree.start({"claude", "-c", "\"" + compiler.string() + "\" 600 & wait"}, shell);
  ASSERT_GT(agent, 0);
  test::TempDir store;
  ProcessTable table(platform::makeProcessSource(platform::Roots::system()), store.path());
  auto readings = test::readUntil(table, [&](const ProcessReadings& r) {
    return test::childOf(r, agent, "cc1plus").has_value();
  });
  auto task = test::childOf(readings, agent, "cc1plus");
  ASSERT_TRUE(task);

  EXPECT_EQ(zemnorvo({"stop", "0"}), (std::pair<int, std::string>{1, "No process with pid 0.\n"}));
  auto [refused, why] = zemnorvo({"stop", std::to_string(agent)});
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(why, "Refused to stop claude (pid " + std::to_string(agent) +
                     "): it is an AI tool itself (agent CLI or AI app).\n");

  auto [stopped, said] = zemnorvo({"stop", std::to_string(*task), "--force", "--json"});
  EXPECT_EQ(stopped, 0);
  auto parsed = json_codec::decode(said);
  ASSERT_TRUE(parsed) << said;
  EXPECT_EQ(parsed->at("stopped"), nlohmann::json::array({*task}));
  auto log = NorvoStore::recentActions(10);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].actor, "owner");
  EXPECT_EQ(log[0].pid, *task);
  EXPECT_EQ(log[0].detail, "SIGKILL; stopped by the owner");
}

}  // namespace
}  // namespace norvo
