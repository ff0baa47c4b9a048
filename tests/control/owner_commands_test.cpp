// `zemnorvo stop`, run as the owner runs it and as an agent's shell would run
// it, with who acted in the actions log.
#include <gtest/gtest.h>

#include <thread>

#include "cli/child_process.hpp"
#include "core/measure/session.hpp"
#include "core/store/norvo_store.hpp"
#include "real_processes.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::zemnorvo;

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Agent A runs a long task. Agent B's shell (a shell named "claude" is an
// agent to the classifier) tries to stop it with `zemnorvo stop` and stops its
// own task; then the owner stops A's task. (Answering for the owner under an
// agent is refused with the other owner commands, in their suites.)
TEST(OwnerCommands, StopActsForTheOwnerOnlyOutsideAnAgent) {
  if (Session::myAgent()) GTEST_SKIP() << "run under an agent, which is not the owner";
  test::FreshHome home;
  test::TempDir dir;
  test::Processes tree;
  ProcessTable table{platform::makeProcessSource(platform::Roots::system()), home.store()};
  auto taskA = test::copyProgram("/bin/sleep", dir.path() / "bin/task-a");
  auto taskB = test::copyProgram("/bin/sleep", dir.path() / "bin/task-b");
  pid_t agentA = tree.start({"claude", "-c", quoted(taskA) + " 600 & wait"},
                            test::copyProgram("/bin/sh", dir.path() / "a/claude"));
  ASSERT_GT(agentA, 0);
  auto readings = test::readUntil(table, [&](const ProcessReadings& r) {
    return test::childOf(r, agentA, "task-a").has_value();
  });
  auto victim = test::childOf(readings, agentA, "task-a");
  ASSERT_TRUE(victim);

  // Each command's standard error and exit status go to `out`.
  auto out = dir.path() / "out";
  auto step = [&](const std::string& arguments, const char* label) {
    return quoted(test::cliPath()) + " " + arguments + " 2>>" + quoted(out) + "; echo \"" + label +
           "=$?\" >>" + quoted(out) + "; ";
  };
  std::string script = step("stop " + std::to_string(*victim), "other") + quoted(taskB) +
                       " 600 & own=$!; sleep 0.3; " + step("stop $own >/dev/null", "own") +
                       "echo done >>" + quoted(out);
  ASSERT_GT(
      tree.start({"claude", "-c", script}, test::copyProgram("/bin/sh", dir.path() / "b/claude")),
      0);
  std::string said;
  for (auto until = std::chrono::steady_clock::now() + 60s;
       said.find("done") == std::string::npos && std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(50ms))
    said = test::readFile(out);
  EXPECT_NE(
      said.find("it belongs to another live AI session (agent pid " + std::to_string(agentA) + ")"),
      std::string::npos)
      << said;
  EXPECT_NE(said.find("other=1"), std::string::npos) << said;
  EXPECT_NE(said.find("own=0"), std::string::npos) << said;

  auto stopped = zemnorvo({"stop", std::to_string(*victim), "--force", "--json"});
  EXPECT_EQ(stopped.status, 0);
  auto parsed = json_codec::decode(stopped.out);
  ASSERT_TRUE(parsed) << stopped.out;
  EXPECT_EQ(parsed->at("stopped"), nlohmann::json::array({*victim}));

  auto log = NorvoStore::recentActions(10, home.store());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(std::tuple(log[0].actor, log[0].pid, log[0].detail),
            std::tuple("owner", *victim, "SIGKILL; stopped by the owner"));
  EXPECT_EQ(log[1].actor, "ai");  // agent B's own task
  EXPECT_NE(log[1].pid, *victim);
}

}  // namespace
}  // namespace norvo
