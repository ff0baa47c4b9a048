// The owner's commands under an AI agent, with real processes: a shell named
// "claude" is an agent to the classifier, so a `zemnorvo` it runs has that
// agent among its ancestors exactly as under Claude Code.
#include <gtest/gtest.h>

#include <thread>

#include "core/control/ai_process_control.hpp"
#include "core/measure/process_table.hpp"
#include "core/store/norvo_store.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Waits up to 60 s for `file` to hold a line starting with "done".
std::string waitForDone(const fs::path& file) {
  for (auto until = std::chrono::steady_clock::now() + 60s;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
    auto text = test::readFile(file);
    if (text.find("done") != std::string::npos) return text;
  }
  return test::readFile(file);
}

TEST(OwnerGuard, UnderAnAgentStopFollowsTheAgentsRulesAndAnswerIsRefused) {
  test::TempDir dir;
  auto data = dir.path() / "data";
  auto store = data / "ZemraNorvo";
  fs::create_directories(store);
  test::Processes tree;
  ProcessTable table{platform::makeProcessSource(platform::Roots::system()), store};

  // Agent A runs a long task; agent B tries to stop it, stops its own task,
  // and tries to answer a suggestion for the owner.
  auto taskA = test::copyProgram("/bin/sleep", dir.path() / "bin/task-a");
  auto taskB = test::copyProgram("/bin/sleep", dir.path() / "bin/task-b");
  auto shellA = test::copyProgram("/bin/sh", dir.path() / "a/claude");
  auto shellB = test::copyProgram("/bin/sh", dir.path() / "b/claude");
  pid_t agentA = tree.start({"claude", "-c", quoted(taskA) + " 600 & wait"}, shellA);
  ASSERT_GT(agentA, 0);
  auto readings = test::readUntil(table, [&](const ProcessReadings& r) {
    return test::childOf(r, agentA, "task-a").has_value();
  });
  auto victim = test::childOf(readings, agentA, "task-a");
  ASSERT_TRUE(victim);
  uint64_t victimStart = readings.at(*victim).startTime;

  auto out = dir.path() / "out";
  std::string cli = quoted(NORVO_CLI_PATH);
  std::string env = "XDG_DATA_HOME=" + quoted(data) + " HOME=" + quoted(dir.path()) + " ";
  std::string script = env + cli + " stop " + std::to_string(*victim) + " 2>>" + quoted(out) +
                       "; echo \"other=$?\" >>" + quoted(out) + "; " + quoted(taskB) +
                       " 600 & own=$!; sleep 0.3; " + env + cli + " stop $own >/dev/null 2>>" +
                       quoted(out) + "; echo \"own=$?\" >>" + quoted(out) + "; " + env + cli +
                       " answer some-id keep 2>>" + quoted(out) + "; echo \"answer=$?\" >>" +
                       quoted(out) + "; echo done >>" + quoted(out);
  pid_t agentB = tree.start({"claude", "-c", script}, shellB);
  ASSERT_GT(agentB, 0);
  auto text = waitForDone(out);

  EXPECT_NE(
      text.find("it belongs to another live AI session (agent pid " + std::to_string(agentA) + ")"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("other=1"), std::string::npos) << text;
  EXPECT_NE(text.find("own=0"), std::string::npos) << text;
  EXPECT_NE(text.find("answer=1"), std::string::npos) << text;
  EXPECT_NE(text.find("suggestion_status"), std::string::npos) << text;

  auto basics = platform::makeProcessSource(platform::Roots::system())->basics(*victim);
  EXPECT_TRUE(basics && basics->startTime == victimStart && basics->state != 'Z')
      << "the other session's task was stopped";
  auto log = NorvoStore::recentActions(10, store);
  ASSERT_EQ(log.size(), 1u);  // only agent B's own task
  EXPECT_EQ(log[0].actor, "ai");
  EXPECT_NE(log[0].pid, *victim);
}

// The agent server with no agent among its ancestors is still an agent: it
// never gets the owner's right to stop another session's work.
TEST(OwnerGuard, AnAgentWithoutAPidMayStopOnlyOrphans) {
  auto noPid = StopCaller::agent(std::nullopt);
  EXPECT_FALSE(noPid.owner);
  EXPECT_TRUE(AIProcessControl::otherSession(noPid, 42, false));
  EXPECT_TRUE(AIProcessControl::otherSession(noPid, std::nullopt, false));
  EXPECT_FALSE(AIProcessControl::otherSession(noPid, 42, true));
  EXPECT_FALSE(AIProcessControl::otherSession(StopCaller(std::nullopt), 42, false));
}

}  // namespace
}  // namespace norvo
