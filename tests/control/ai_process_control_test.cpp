// Stopping AI work on real process trees: what an agent may never stop, what
// it may, how signals and waits behave, that a pid reused between the check
// and the signal is never hit, and the owner's own stops and quits.
#include "core/control/ai_process_control.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "core/control/quit_plan.hpp"
#include "core/measure/classifier.hpp"
#include "core/platform/record_file.hpp"
#include "core/store/norvo_store.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {

void PrintTo(const StopResult& r, std::ostream* out) { *out << nlohmann::json(r).dump(); }

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::childOf;
using test::readUntil;

// The real process reader, except that from the `fromCall`-th cheap read of
// `pid` on it reports another start time: what the checks would see if the
// process had exited and its pid had gone to a newcomer at that moment.
class ReusedPidSource : public platform::ProcessSource {
 public:
  void reuse(int32_t pid, int fromCall) {
    std::lock_guard lock(mutex_);
    pid_ = pid;
    fromCall_ = fromCall;
    calls_ = 0;
  }
  std::vector<int32_t> allPids() const override { return real_->allPids(); }
  std::optional<platform::ProcessBasics> basics(int32_t pid) const override {
    auto b = real_->basics(pid);
    std::lock_guard lock(mutex_);
    if (b && pid == pid_ && ++calls_ >= fromCall_) b->startTime += 7;
    return b;
  }
  platform::ProcessCommandLine commandLine(int32_t pid) const override {
    return real_->commandLine(pid);
  }
  platform::ProcessUsage usage(int32_t pid, std::optional<uint64_t> cpu) const override {
    return real_->usage(pid, cpu);
  }
  std::optional<int32_t> responsiblePid(int32_t pid) const override {
    return real_->responsiblePid(pid);
  }
  std::optional<std::string> bundleIdentifier(const std::string& path) const override {
    return real_->bundleIdentifier(path);
  }
  uint32_t currentUid() const override { return real_->currentUid(); }

 private:
  std::shared_ptr<platform::ProcessSource> real_ =
      platform::makeProcessSource(platform::Roots::system());
  mutable std::mutex mutex_;
  int32_t pid_ = 0;
  int fromCall_ = 1 << 30;
  mutable int calls_ = 0;
};

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

// A sandbox: programs under agent and app names, a store of its own, and this
// test process playing the agent server.
struct Sandbox {
  test::TempDir dir;
  test::TempDir store;
  std::shared_ptr<ReusedPidSource> source = std::make_shared<ReusedPidSource>();
  ProcessTable table{source, store.path()};
  test::Processes tree;

  fs::path program(const std::string& relative, const char* from = "/bin/sleep") {
    return test::copyProgram(from, dir.path() / relative);
  }
  StopResult stop(int32_t pid, StopCaller by, bool force = false, bool children = false) {
    return AIProcessControl::stop(pid, force, children, "runaway", by, NorvoConfig::defaults(),
                                  {table, store.path(), static_cast<int32_t>(::getpid())});
  }
  // An agent "claude" (a shell) running `script`, whose programs it names by
  // absolute path.
  pid_t agent(const std::string& name, const std::string& script) {
    return tree.start({"claude", "-c", script}, program(name + "/claude", "/bin/sh"));
  }
  std::vector<NorvoStore::Action> log() { return NorvoStore::recentActions(100, store.path()); }
  bool alive(int32_t pid, uint64_t startTime) {
    auto b = platform::makeProcessSource(platform::Roots::system())->basics(pid);
    return b && b->startTime == startTime && b->state != 'Z';
  }
  // Under a real agent every child here would be that agent's task.
  bool underAgent() {
    auto readings = table.read(2s);
    return Classifier(NorvoConfig::defaults(), readings, ::getpid(), ::getuid())
        .myAgent()
        .has_value();
  }
};

std::string refusal(const std::string& name, int32_t pid, const std::string& why) {
  return "Refused to stop " + name + " (pid " + std::to_string(pid) + "): " + why;
}

TEST(AIProcessControl, AnAgentMayNeverStopWhatIsNotItsOwnTask) {
  Sandbox s;
  if (s.underAgent()) GTEST_SKIP() << "run under an agent";
  auto mine = s.agent("a", quoted(s.program("bin/mcp-bridge")) + " 600 & wait");
  auto browser = s.tree.start({"firefox", "600"}, s.program("Firefox.app/Contents/MacOS/firefox"));
  ASSERT_TRUE(mine > 0 && browser > 0);
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return childOf(r, mine, "mcp-bridge") && r.count(browser) && r.at(browser).name == "firefox";
  });
  auto myBridge = childOf(readings, mine, "mcp-bridge");
  ASSERT_TRUE(myBridge);

  // The server's own chain and another session's task are refused end to end
  // (zemnorvo_mcp_e2e.mjs, OwnerCommands); another user's process is a system
  // one to the classifier, as init is.
  const std::pair<int32_t, std::string> cases[] = {
      {browser, refusal("firefox", browser,
                        "it is the owner's app/process, not started by an AI agent. Propose it "
                        "with suggest_quit_apps instead.")},
      {mine, refusal("claude", mine, "it is an AI tool itself (agent CLI or AI app).")},
      {*myBridge, refusal("mcp-bridge", *myBridge,
                          "it is an MCP server or part of the process chain running this tool.")},
  };
  for (const auto& [pid, message] : cases) {
    auto startTime = readings.at(pid).startTime;
    EXPECT_EQ(s.stop(pid, StopCaller::agent(mine)), (StopResult{false, message, {}, {pid}}));
    // Neither a forced stop with children nor an agent without a pid gets through.
    EXPECT_FALSE(s.stop(pid, StopCaller::agent(mine), true, true).ok) << message;
    EXPECT_FALSE(s.stop(pid, StopCaller::agent(std::nullopt), true).ok) << message;
    EXPECT_TRUE(s.alive(pid, startTime)) << message;
  }
  // Whatever init is here, an agent may not stop it.
  EXPECT_EQ(s.stop(1, StopCaller::agent(mine), true).stillRunning, std::vector<int32_t>{1});
  EXPECT_TRUE(s.log().empty());
}

// An agent without a pid may stop a task only once it is orphaned, which the
// lineage remembered while its agent lived still tells. (The owner's stops are
// OwnerCommands'; an agent's own tasks are the child trees and pid reuse below.)
TEST(AIProcessControl, AnOrphanToAnAgentWithoutPidAndTheStopIsLogged) {
  Sandbox s;
  if (s.underAgent()) GTEST_SKIP() << "run under an agent";
  auto gone = s.agent("c", quoted(s.program("bin/ld")) + " 600 & wait");
  auto readings = readUntil(
      s.table, [&](const ProcessReadings& r) { return childOf(r, gone, "ld").has_value(); });
  auto orphan = childOf(readings, gone, "ld");
  ASSERT_TRUE(orphan);

  // The orphan's agent exits; the task comes back to this sub-reaper, and only
  // the remembered lineage still names its agent.
  record_file::write(std::map<std::string, int32_t>{{readings.at(*orphan).key(), gone}},
                     s.store.path() / "lineage.json");
  ::kill(gone, SIGKILL);
  ::waitpid(gone, nullptr, 0);
  readUntil(s.table, [&](const ProcessReadings& r) {
    return r.count(*orphan) && r.at(*orphan).ppid == ::getpid();
  });
  EXPECT_EQ(s.stop(*orphan, StopCaller::agent(std::nullopt)),
            (StopResult{true, "Sent SIGTERM to 1 process(es); 1 exited.", {*orphan}, {}}));
  auto log = s.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(std::tuple(log[0].actor, log[0].kind, log[0].pid, log[0].name, log[0].detail),
            std::tuple("ai", "stop_ai_process", *orphan, "ld", "SIGTERM; runaway"));
}

TEST(AIProcessControl, ChildrenGoDeepestFirstAndRefusedOnesAreLeftAlone) {
  Sandbox s;
  auto compiler = s.program("bin/cc1plus");
  // ld turns into a long sleep still named ld after starting its compiler, so
  // that it does not end by itself once the compiler is stopped.
  auto ldScript = s.dir.write(
      "ld.sh", quoted(compiler) + " 600 & exec " + quoted(s.program("ld/ld")) + " 600\n");
  auto nestedScript = s.dir.write("nested.sh", quoted(compiler) + " 600 & wait\n");
  auto makeScript =
      s.dir.write("make.sh", quoted(s.program("bin/ld", "/bin/sh")) + " " + quoted(ldScript) +
                                 " & " + quoted(s.program("bin/mcp-helper")) + " 600 & " +
                                 quoted(s.program("b/claude", "/bin/sh")) + " " +
                                 quoted(nestedScript) + " & wait\n");
  auto agent =
      s.agent("a", quoted(s.program("bin/make", "/bin/sh")) + " " + quoted(makeScript) + " & wait");
  std::optional<int32_t> makePid, ldPid, task, helper, other, otherTask;
  readUntil(s.table, [&](const ProcessReadings& r) {
    makePid = childOf(r, agent, "make");
    if (!makePid) return false;
    ldPid = childOf(r, *makePid, "ld");
    helper = childOf(r, *makePid, "mcp-helper");
    other = childOf(r, *makePid, "claude");
    task = ldPid ? childOf(r, *ldPid, "cc1plus") : std::nullopt;
    otherTask = other ? childOf(r, *other, "cc1plus") : std::nullopt;
    return task && helper && otherTask;
  });
  ASSERT_TRUE(task && helper && otherTask);
  auto readings = s.table.read(2s);

  EXPECT_EQ(s.stop(*makePid, StopCaller::agent(agent), false, true),
            (StopResult{
                true, "Sent SIGTERM to 3 process(es); 3 exited.", {*task, *ldPid, *makePid}, {}}));
  // Newest first: the target was signalled last, the deepest task first.
  std::vector<std::pair<std::string, int32_t>> logged;
  for (const auto& a : s.log()) logged.emplace_back(a.actor, a.pid);
  EXPECT_EQ(logged, (decltype(logged){{"ai", *makePid}, {"ai", *ldPid}, {"ai", *task}}));
  for (int32_t spared : {*helper, *other, *otherTask})
    EXPECT_TRUE(s.alive(spared, readings.at(spared).startTime)) << spared;
}

// A pid reused between the check and the signal is never hit; a task that
// ignores SIGTERM is reported still running until it is forced.
TEST(AIProcessControl, APidReusedAfterTheCheckIsNeverSignalledAndSigtermCanBeIgnored) {
  Sandbox s;
  // An ignored signal stays ignored across exec.
  auto agent = s.agent("a", "trap '' TERM; " + quoted(s.program("bin/stubborn")) + " 600 & wait");
  auto readings = readUntil(
      s.table, [&](const ProcessReadings& r) { return childOf(r, agent, "stubborn").has_value(); });
  auto task = childOf(readings, agent, "stubborn");
  ASSERT_TRUE(task);
  auto startTime = readings.at(*task).startTime;
  // Cheap reads of the task: 1 by the table, 2 before pinning, 3 after.
  for (int fromCall : {2, 3}) {
    s.source->reuse(*task, fromCall);
    EXPECT_EQ(s.stop(*task, StopCaller::agent(agent)),
              (StopResult{true,
                          "Sent SIGTERM to 0 process(es); 0 exited. Not signalled: " +
                              std::to_string(*task) +
                              " — ended while checking (the pid may now be another process).",
                          {},
                          {}}))
        << fromCall;
    EXPECT_TRUE(s.alive(*task, startTime));
  }
  EXPECT_TRUE(s.log().empty());

  s.source->reuse(0, 1);
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(s.stop(*task, StopCaller::agent(agent)),
            (StopResult{true,
                        "Sent SIGTERM to 1 process(es); 0 exited. Still running: " +
                            std::to_string(*task) + " — call again with force=true if needed.",
                        {},
                        {*task}}));
  auto waited = std::chrono::steady_clock::now() - began;
  EXPECT_GE(waited, 2900ms);
  EXPECT_LT(waited, 8s);  // the 3-second wait plus one table read on a busy machine

  began = std::chrono::steady_clock::now();
  EXPECT_EQ(s.stop(*task, StopCaller::agent(agent), true),
            (StopResult{true, "Sent SIGKILL to 1 process(es); 1 exited.", {*task}, {}}));
  EXPECT_LT(std::chrono::steady_clock::now() - began, 4s);
}

TEST(AIProcessControl, UnknownAndInvalidPids) {
  Sandbox s;
  for (int32_t pid : {0, -1, std::numeric_limits<int32_t>::max()})
    EXPECT_EQ(s.stop(pid, StopCaller::agent(42), true, true),
              (StopResult{false, "No process with pid " + std::to_string(pid) + ".", {}, {}}));
  EXPECT_TRUE(s.log().empty());
}

// The rows the process trees above and OwnerCommands do not reach.
TEST(AIProcessControl, SessionRuleForTasksOfNoKnownAgentOrCallersOfNone) {
  const std::optional<int32_t> none;
  const std::tuple<StopCaller, std::optional<int32_t>, bool, bool> cases[] = {
      {StopCaller(std::nullopt), none, false, false},
      {StopCaller::agent(7), none, false, true},
      {StopCaller::agent(7), none, true, false},
      {StopCaller::agent(std::nullopt), none, false, true},
      {StopCaller::agent(std::nullopt), 7, false, true},
  };
  for (const auto& [by, agent, orphaned, refused] : cases)
    EXPECT_EQ(AIProcessControl::otherSession(by, agent, orphaned), refused)
        << by.owner << " " << by.agentPid.value_or(-1) << " " << agent.value_or(-1) << " "
        << orphaned;
}

// The owner accepts quitting a running app and one that has gone: every
// process of the running app is asked to quit, nothing else is touched, and
// the agent reads back which apps went and why the rest stayed. (Declining is
// driven end to end by the desktop companion's suite.)
TEST(QuitPlan, TheOwnersAnswerQuitsEveryProcessOfTheAppAndNothingElse) {
  Sandbox s;
  auto main = s.tree.start({"Editor", "600"}, s.program("Editor.app/Contents/MacOS/Editor"));
  auto helper = s.tree.start({"Helper", "600"}, s.program("Editor.app/Contents/Helpers/Helper"));
  auto namesake = s.tree.start({"Editor", "600"}, s.program("elsewhere/Editor"));
  ASSERT_TRUE(main > 0 && helper > 0 && namesake > 0);
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return r.count(main) && r.at(main).name == "Editor" && r.count(helper) &&
           r.at(helper).name == "Helper" && r.count(namesake) && r.at(namesake).name == "Editor";
  });
  // The app's processes are this test's children: reap them as they exit.
  std::thread reapMain([&] { ::waitpid(main, nullptr, 0); });
  std::thread reapHelper([&] { ::waitpid(helper, nullptr, 0); });

  const auto gone = std::numeric_limits<int32_t>::max();
  auto accepted = QuitSuggestion::make(
      "claude", "build is slow",
      {{"Editor", (s.dir.path() / "Editor.app").string(), std::nullopt, main},
       {"Closed", (s.dir.path() / "Closed.app").string(), std::nullopt, gone}});
  NorvoStore::addSuggestion(accepted, s.store.path());
  std::map<std::string, std::string> keptBecause;
  QuitPlan::answer(accepted, true, s.table, s.store.path(), QuitWatch::grace, &keptBecause);
  reapMain.join();
  reapHelper.join();
  EXPECT_TRUE(s.alive(namesake, readings.at(namesake).startTime));

  auto yes = NorvoStore::suggestion(accepted.id, s.store.path());
  ASSERT_TRUE(yes);
  using Names = std::vector<std::string>;
  EXPECT_EQ(std::tuple(yes->status, yes->quit, yes->kept, yes->answeredAt.has_value()),
            std::tuple("accepted", Names{"Editor"}, Names{"Closed"}, true));
  EXPECT_EQ(keptBecause, (std::map<std::string, std::string>{{"Closed", "it was not running"}}));
  auto log = s.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(std::tuple(log[0].actor, log[0].kind, log[0].name, log[0].pid),
            std::tuple("owner", "quit_app", "Editor", main));
}

// `zemnorvo stop`, run as the owner runs it and as an agent's shell would run
// it: agent A runs a long task; agent B's shell (a shell named "claude" is an
// agent to the classifier) tries to stop it and stops its own task; then the
// owner stops A's task. (Answering for the owner under an agent is refused
// with the other owner commands, in their suites.)
TEST(OwnerCommands, StopActsForTheOwnerOnlyOutsideAnAgent) {
  test::FreshHome home;
  Sandbox s;
  if (s.underAgent()) GTEST_SKIP() << "run under an agent, which is not the owner";
  auto taskB = s.program("bin/task-b");
  auto agentA = s.agent("a", quoted(s.program("bin/task-a")) + " 600 & wait");
  ASSERT_GT(agentA, 0);
  auto readings = readUntil(
      s.table, [&](const ProcessReadings& r) { return childOf(r, agentA, "task-a").has_value(); });
  auto victim = childOf(readings, agentA, "task-a");
  ASSERT_TRUE(victim);

  // Each command's standard error and exit status go to `out`.
  auto out = s.dir.path() / "out";
  auto step = [&](const std::string& arguments, const char* label) {
    return quoted(test::cliPath()) + " " + arguments + " 2>>" + quoted(out) + "; echo \"" + label +
           "=$?\" >>" + quoted(out) + "; ";
  };
  ASSERT_GT(s.agent("b", step("stop " + std::to_string(*victim), "other") + quoted(taskB) +
                             " 600 & own=$!; sleep 0.3; " + step("stop $own >/dev/null", "own") +
                             "echo done >>" + quoted(out)),
            0);
  std::string said;
  test::waitFor([&] { return (said = test::readFile(out)).find("done") != std::string::npos; },
                60s);
  EXPECT_NE(
      said.find("it belongs to another live AI session (agent pid " + std::to_string(agentA) + ")"),
      std::string::npos)
      << said;
  EXPECT_NE(said.find("other=1"), std::string::npos) << said;
  EXPECT_NE(said.find("own=0"), std::string::npos) << said;

  auto stopped = test::zemnorvo({"stop", std::to_string(*victim), "--force", "--json"});
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(nlohmann::json::parse(stopped.out, nullptr, false).value("stopped", nlohmann::json()),
            nlohmann::json::array({*victim}))
      << stopped.out;

  auto log = NorvoStore::recentActions(10, home.store());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(std::tuple(log[0].actor, log[0].pid, log[0].detail),
            std::tuple("owner", *victim, "SIGKILL; stopped by the owner"));
  EXPECT_EQ(log[1].actor, "ai");  // agent B's own task
  EXPECT_NE(log[1].pid, *victim);
}

}  // namespace
}  // namespace norvo
