// Stopping AI work on real process trees: what an agent may never stop, what
// it may, how signals and waits behave, and that a pid reused between the
// check and the signal is never hit.
#include "core/control/ai_process_control.hpp"

#include <gtest/gtest.h>

#include <atomic>
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
using test::copyProgram;
using test::readUntil;

// The real process reader, except that from the `fromCall`-th cheap read of
// `pid` on it reports another start time: what the checks would see if the
// process had exited and its pid had gone to a newcomer at that moment.
class ReusedPidSource : public platform::ProcessSource {
 public:
  ReusedPidSource() : real_(platform::makeProcessSource(platform::Roots::system())) {}
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
  std::shared_ptr<platform::ProcessSource> real_;
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
    return copyProgram(from, dir.path() / relative);
  }
  AIProcessControl::Environment environment() {
    return {table, store.path(), static_cast<int32_t>(::getpid())};
  }
  StopResult stop(int32_t pid, std::optional<int32_t> byAgent, bool force = false,
                  bool children = false) {
    return AIProcessControl::stop(pid, force, children, "runaway", byAgent, NorvoConfig::defaults(),
                                  environment());
  }
  // An agent "claude" (a shell) running `script`, whose programs it names by
  // absolute path.
  pid_t agent(const std::string& name, const std::string& script) {
    auto shell = program(name + "/claude", "/bin/sh");
    return tree.start({"claude", "-c", script}, shell);
  }
  // Starts agent `name` running `task` (a copy of sleep under that name) and
  // waits until the table sees it; the agent's pid and the task's, if seen.
  std::pair<pid_t, std::optional<int32_t>> agentWithTask(const std::string& name,
                                                         const std::string& task,
                                                         const std::string& prelude = "") {
    auto agentPid = agent(name, prelude + quoted(program("bin/" + task)) + " 600 & wait");
    if (agentPid <= 0) return {agentPid, std::nullopt};
    auto readings = readUntil(
        table, [&](const ProcessReadings& r) { return childOf(r, agentPid, task).has_value(); });
    return {agentPid, childOf(readings, agentPid, task)};
  }
  std::vector<NorvoStore::Action> log() { return NorvoStore::recentActions(100, store.path()); }
  bool alive(int32_t pid, uint64_t startTime) {
    auto b = platform::makeProcessSource(platform::Roots::system())->basics(pid);
    return b && b->startTime == startTime && b->state != 'Z';
  }
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
  if (s.underAgent()) GTEST_SKIP() << "run under an agent: every child here would be its task";
  // Started first and given time to drop to its user before the table first
  // sees it: the reader keeps each process's files open with the owner it
  // saw first.
  auto stranger = s.tree.startAs(65534, {"sleep", "600"}, "/bin/sleep");
  if (stranger > 0) {
    for (int i = 0;
         i < 100 && test::readFile(fs::path("/proc") / std::to_string(stranger) / "status")
                            .find("Uid:\t65534") == std::string::npos;
         ++i)
      std::this_thread::sleep_for(20ms);
  }
  auto compiler = s.program("bin/cc1plus");
  auto bridge = s.program("bin/mcp-bridge");
  auto mine = s.agent("a", quoted(compiler) + " 600 & " + quoted(bridge) + " 600 & wait");
  auto theirs = s.agent("b", quoted(compiler) + " 600 & wait");
  auto browser = s.tree.start({"firefox", "600"}, s.program("Firefox.app/Contents/MacOS/firefox"));
  ASSERT_GT(mine, 0);
  ASSERT_GT(theirs, 0);
  ASSERT_GT(browser, 0);
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return childOf(r, mine, "cc1plus").has_value() && childOf(r, mine, "mcp-bridge") &&
           childOf(r, theirs, "cc1plus") && r.count(browser) && r.at(browser).name == "firefox" &&
           (stranger < 0 || (r.count(stranger) && r.at(stranger).uid == 65534));
  });
  auto theirTask = childOf(readings, theirs, "cc1plus");
  auto myBridge = childOf(readings, mine, "mcp-bridge");
  ASSERT_TRUE(theirTask && myBridge);

  const std::string owners =
      "it is the owner's app/process, not started by an AI agent. Propose it with "
      "suggest_quit_apps instead.";
  const std::string chain = "it is an MCP server or part of the process chain running this tool.";
  const std::string tool = "it is an AI tool itself (agent CLI or AI app).";
  const std::string system = "it is a system process or belongs to another user.";
  struct Case {
    std::string what;
    int32_t pid;
    std::string message;
  };
  std::vector<Case> cases = {
      {"owner's browser", browser, refusal("firefox", browser, owners)},
      {"the agent itself", mine, refusal("claude", mine, tool)},
      {"another agent", theirs, refusal("claude", theirs, tool)},
      {"an MCP server of the agent", *myBridge, refusal("mcp-bridge", *myBridge, chain)},
      {"the server itself", ::getpid(), refusal(readings.at(::getpid()).name, ::getpid(), chain)},
      {"another session's build", *theirTask,
       refusal("cc1plus", *theirTask,
               "it belongs to another live AI session (agent pid " + std::to_string(theirs) +
                   "). Do not disturb it; wait_for_capacity or ask the owner.")},
  };
  if (::getppid() > 1 && readings.count(::getppid()))
    cases.push_back({"the server's parent", ::getppid(),
                     refusal(readings.at(::getppid()).name, ::getppid(), chain)});
  if (stranger > 0)
    cases.push_back({"another user's process", stranger, refusal("sleep", stranger, system)});
  if (readings.count(1) && readings.at(1).uid != ::getuid())
    cases.push_back({"init", 1, refusal(readings.at(1).name, 1, system)});

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto startTime = readings.at(c.pid).startTime;
    auto result = s.stop(c.pid, mine);
    EXPECT_EQ(result, (StopResult{false, c.message, {}, {c.pid}}));
    // Neither a gentle nor a forced stop goes through.
    EXPECT_FALSE(s.stop(c.pid, mine, true, true).ok);
    EXPECT_TRUE(s.alive(c.pid, startTime));
  }
  // Whatever init is here, an agent may not stop it.
  auto init = s.stop(1, mine, true);
  EXPECT_FALSE(init.ok);
  EXPECT_EQ(init.stillRunning, std::vector<int32_t>{1});
  EXPECT_TRUE(s.log().empty());
}

TEST(AIProcessControl, StopsItsOwnTaskAndOrphansAndLogsEachSignal) {
  Sandbox s;
  if (s.underAgent()) GTEST_SKIP() << "run under an agent: the orphan would come back to it";
  auto compiler = s.program("bin/cc1plus");
  auto linker = s.program("bin/ld");
  auto mine = s.agent("a", quoted(compiler) + " 600 & wait");
  auto gone = s.agent("c", quoted(linker) + " 600 & wait");
  ASSERT_GT(mine, 0);
  ASSERT_GT(gone, 0);
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return childOf(r, mine, "cc1plus").has_value() && childOf(r, gone, "ld");
  });
  auto task = childOf(readings, mine, "cc1plus");
  auto orphan = childOf(readings, gone, "ld");
  ASSERT_TRUE(task && orphan);

  // The orphan's agent exits; the task comes back to this sub-reaper, and only
  // the remembered lineage still names its agent.
  record_file::write(std::map<std::string, int32_t>{{readings.at(*orphan).key(), gone}},
                     s.store.path() / "lineage.json");
  ::kill(gone, SIGKILL);
  ::waitpid(gone, nullptr, 0);
  readUntil(s.table, [&](const ProcessReadings& r) {
    return r.count(*orphan) && r.at(*orphan).ppid == ::getpid();
  });

  auto own = s.stop(*task, mine);
  EXPECT_EQ(own, (StopResult{true, "Sent SIGTERM to 1 process(es); 1 exited.", {*task}, {}}));
  auto orphaned = s.stop(*orphan, mine);
  EXPECT_EQ(orphaned,
            (StopResult{true, "Sent SIGTERM to 1 process(es); 1 exited.", {*orphan}, {}}));

  auto log = s.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].actor, "ai");
  EXPECT_EQ(log[1].kind, "stop_ai_process");
  EXPECT_EQ(log[1].pid, *task);
  EXPECT_EQ(log[1].name, "cc1plus");
  EXPECT_EQ(log[1].detail, "SIGTERM; runaway");
  EXPECT_EQ(log[0].pid, *orphan);
  EXPECT_EQ(log[0].name, "ld");
}

TEST(AIProcessControl, TheOwnerMayStopAnyAgentsTask) {
  Sandbox s;
  auto [agent, task] = s.agentWithTask("b", "cc1plus");
  ASSERT_TRUE(task);
  // An agent other than its own is refused; the owner is not.
  EXPECT_FALSE(s.stop(*task, agent + 100000).ok);
  auto result = s.stop(*task, std::nullopt, true);
  EXPECT_EQ(result, (StopResult{true, "Sent SIGKILL to 1 process(es); 1 exited.", {*task}, {}}));
  auto log = s.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].actor, "owner");
  EXPECT_EQ(log[0].detail, "SIGKILL; runaway");
}

TEST(AIProcessControl, ATaskIgnoringSigtermIsStillRunningUntilForced) {
  Sandbox s;
  // An ignored signal stays ignored across exec.
  auto [agent, task] = s.agentWithTask("a", "stubborn", "trap '' TERM; ");
  ASSERT_TRUE(task);
  auto id = std::to_string(*task);

  auto began = std::chrono::steady_clock::now();
  auto gentle = s.stop(*task, agent);
  auto waited = std::chrono::steady_clock::now() - began;
  EXPECT_EQ(gentle, (StopResult{true,
                                "Sent SIGTERM to 1 process(es); 0 exited. Still running: " + id +
                                    " — call again with force=true if needed.",
                                {},
                                {*task}}));
  EXPECT_GE(waited, 2900ms);
  EXPECT_LT(waited, 8s);  // the 3-second wait plus one table read on a busy machine

  began = std::chrono::steady_clock::now();
  auto forced = s.stop(*task, agent, true);
  EXPECT_EQ(forced, (StopResult{true, "Sent SIGKILL to 1 process(es); 1 exited.", {*task}, {}}));
  EXPECT_LT(std::chrono::steady_clock::now() - began, 4s);
  EXPECT_EQ(s.log().size(), 2u);
}

TEST(AIProcessControl, ChildrenGoDeepestFirstAndRefusedOnesAreLeftAlone) {
  Sandbox s;
  auto compiler = s.program("bin/cc1plus");
  auto bridge = s.program("bin/mcp-helper");
  auto make = s.program("bin/make", "/bin/sh");
  auto ld = s.program("bin/ld", "/bin/sh");
  auto nested = s.program("b/claude", "/bin/sh");
  // ld turns into a long sleep still named ld after starting its compiler, so
  // that it does not end by itself once the compiler is stopped.
  auto ldScript = s.dir.write(
      "ld.sh", quoted(compiler) + " 600 & exec " + quoted(s.program("ld/ld")) + " 600\n");
  auto nestedScript = s.dir.write("nested.sh", quoted(compiler) + " 600 & wait\n");
  auto makeScript = s.dir.write("make.sh", quoted(ld) + " " + quoted(ldScript) + " & " +
                                               quoted(bridge) + " 600 & " + quoted(nested) + " " +
                                               quoted(nestedScript) + " & wait\n");
  auto agent = s.agent("a", quoted(make) + " " + quoted(makeScript) + " & wait");
  ASSERT_GT(agent, 0);
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

  auto result = s.stop(*makePid, agent, false, true);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.message, "Sent SIGTERM to 3 process(es); 3 exited.");
  EXPECT_EQ(result.stopped, (std::vector<int32_t>{*task, *ldPid, *makePid}));
  auto log = s.log();
  ASSERT_EQ(log.size(), 3u);
  // Newest first: the target was signalled last, the deepest task first.
  EXPECT_EQ(log[0].pid, *makePid);
  EXPECT_EQ(log[1].pid, *ldPid);
  EXPECT_EQ(log[2].pid, *task);
  for (int32_t spared : {*helper, *other, *otherTask})
    EXPECT_TRUE(s.alive(spared, readings.at(spared).startTime)) << spared;
}

TEST(AIProcessControl, APidReusedAfterTheCheckIsNeverSignalled) {
  Sandbox s;
  auto [agent, task] = s.agentWithTask("a", "cc1plus");
  ASSERT_TRUE(task);
  auto startTime = s.table.read(2s).at(*task).startTime;
  auto expected = StopResult{
      true,
      "Sent SIGTERM to 0 process(es); 0 exited. Not signalled: " + std::to_string(*task) +
          " — ended while checking (the pid may now be another process).",
      {},
      {}};
  // Cheap reads of the task: 1 by the table, 2 before pinning, 3 after.
  for (int fromCall : {2, 3}) {
    SCOPED_TRACE(fromCall);
    s.source->reuse(*task, fromCall);
    EXPECT_EQ(s.stop(*task, agent), expected);
    EXPECT_TRUE(s.alive(*task, startTime));
  }
  EXPECT_TRUE(s.log().empty());
  s.source->reuse(0, 1);
  EXPECT_EQ(s.stop(*task, agent).stopped, std::vector<int32_t>{*task});
}

TEST(AIProcessControl, UnknownAndInvalidPids) {
  Sandbox s;
  for (int32_t pid : {0, -1, -12345, std::numeric_limits<int32_t>::max()}) {
    auto result = s.stop(pid, 42, true, true);
    EXPECT_EQ(result,
              (StopResult{false, "No process with pid " + std::to_string(pid) + ".", {}, {}}));
  }
  EXPECT_TRUE(s.log().empty());
}

TEST(AIProcessControl, SessionRule) {
  struct Case {
    std::optional<int32_t> byAgent, agentPid;
    bool orphaned, refused;
  };
  for (const auto& c : std::vector<Case>{{std::nullopt, 7, false, false},
                                         {std::nullopt, std::nullopt, false, false},
                                         {7, 7, false, false},
                                         {7, 8, false, true},
                                         {7, std::nullopt, false, true},
                                         {7, 8, true, false},
                                         {7, std::nullopt, true, false}})
    EXPECT_EQ(AIProcessControl::otherSession(c.byAgent, c.agentPid, c.orphaned), c.refused);
}

TEST(AIProcessControl, ResultMessageAndJson) {
  EXPECT_EQ(AIProcessControl::resultMessage(false, 3, {1}, {2, 3}, {4, 5}),
            "Sent SIGTERM to 3 process(es); 1 exited. Still running: 2, 3 — call again with "
            "force=true if needed. Not signalled: 4, 5 — ended while checking (the pid may now be "
            "another process).");
  StopResult r{true, "m", {1}, {2}};
  auto j = nlohmann::json(r);
  EXPECT_EQ(j,
            nlohmann::json::parse(R"({"ok":true,"message":"m","stopped":[1],"stillRunning":[2]})"));
  EXPECT_EQ(j.get<StopResult>(), r);
}

TEST(QuitWatch, AliveAndExit) {
  EXPECT_TRUE(QuitWatch::isAlive(1));  // ours or not (EPERM), init is there
  EXPECT_TRUE(QuitWatch::isAlive(::getpid()));
  for (int32_t pid : {0, -1}) {
    EXPECT_FALSE(QuitWatch::isAlive(pid));
    EXPECT_TRUE(QuitWatch::waitExit(pid, 30));
  }
  test::Processes tree;
  auto brief = tree.start({"sleep", "0.3"}, "/bin/sleep");
  auto lasting = tree.start({"sleep", "600"}, "/bin/sleep");
  ASSERT_GT(brief, 0);
  ASSERT_GT(lasting, 0);
  std::thread reaper([&] { ::waitpid(brief, nullptr, 0); });
  auto began = std::chrono::steady_clock::now();
  EXPECT_TRUE(QuitWatch::waitExit(brief, 10));
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
  reaper.join();
  EXPECT_FALSE(QuitWatch::isAlive(brief));

  began = std::chrono::steady_clock::now();
  EXPECT_FALSE(QuitWatch::waitExit(lasting, 0.5));
  auto waited = std::chrono::steady_clock::now() - began;
  EXPECT_GE(waited, 500ms);
  EXPECT_LT(waited, 1500ms);
}

TEST(QuitPlan, ForBundle) {
  EXPECT_EQ(QuitPlan::forBundle("/Applications/Xcode.app/Contents/Developer/Applications/"
                                "Simulator.app"),
            QuitPlan::shutDownSimulators);
  for (const char* other :
       {"/Applications/Xcode.app", "/Applications/Simulator.app",
        "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app/", "",
        "/usr/share/applications/firefox.desktop"})
    EXPECT_EQ(QuitPlan::forBundle(other), QuitPlan::terminateApp) << other;
}

TEST(QuitPlan, QuitsEveryProcessOfTheAppAndNothingElse) {
  Sandbox s;
  auto main = s.tree.start({"Editor", "600"}, s.program("Editor.app/Contents/MacOS/Editor"));
  auto helper = s.tree.start({"Helper", "600"}, s.program("Editor.app/Contents/Helpers/Helper"));
  auto namesake = s.tree.start({"Editor", "600"}, s.program("elsewhere/Editor"));
  ASSERT_GT(main, 0);
  ASSERT_GT(helper, 0);
  ASSERT_GT(namesake, 0);
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return r.count(main) && r.at(main).name == "Editor" && r.count(helper) &&
           r.at(helper).name == "Helper" && r.count(namesake) && r.at(namesake).name == "Editor";
  });
  // The app's processes are this test's children: reap them as they exit.
  std::thread reapMain([&] { ::waitpid(main, nullptr, 0); });
  std::thread reapHelper([&] { ::waitpid(helper, nullptr, 0); });

  QuitSuggestion::Item item;
  item.name = "Editor";
  item.bundlePath = (s.dir.path() / "Editor.app").string();
  item.mainPid = main;
  EXPECT_TRUE(QuitPlan::carryOut(item, s.table, QuitWatch::grace));
  reapMain.join();
  reapHelper.join();
  EXPECT_TRUE(s.alive(namesake, readings.at(namesake).startTime));

  item.bundlePath = "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app";
  EXPECT_FALSE(QuitPlan::carryOut(item, s.table, 1));
  EXPECT_TRUE(s.alive(namesake, readings.at(namesake).startTime));
}

TEST(QuitPlan, TheOwnersAnswerIsResolvedForTheAgentToRead) {
  Sandbox s;
  auto item = [](std::string name, std::string bundle) {
    QuitSuggestion::Item i;
    i.name = std::move(name);
    i.bundlePath = std::move(bundle);
    i.mainPid = std::numeric_limits<int32_t>::max();
    return i;
  };
  auto closed = item("Closed", (s.dir.path() / "Closed.app").string());
  auto simulator =
      item("Simulator", "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app");
  auto accepted = QuitSuggestion::make("claude", "build is slow", {closed, simulator});
  auto declined = QuitSuggestion::make("claude", "build is slow", {closed, simulator});
  NorvoStore::addSuggestion(accepted, s.store.path());
  NorvoStore::addSuggestion(declined, s.store.path());

  QuitPlan::answer(accepted, true, s.table, s.store.path(), 0.2);
  QuitPlan::answer(declined, false, s.table, s.store.path(), 0.2);
  EXPECT_TRUE(NorvoStore::pendingSuggestions(s.store.path()).empty());
  auto yes = NorvoStore::suggestion(accepted.id, s.store.path());
  auto no = NorvoStore::suggestion(declined.id, s.store.path());
  ASSERT_TRUE(yes && no);
  EXPECT_EQ(yes->status, "accepted");
  EXPECT_EQ(yes->quit, std::vector<std::string>{"Closed"});
  EXPECT_EQ(yes->kept, std::vector<std::string>{"Simulator"});
  EXPECT_TRUE(yes->answeredAt.has_value());
  EXPECT_EQ(no->status, "declined");
  EXPECT_TRUE(no->quit.empty());
  EXPECT_EQ(no->kept, (std::vector<std::string>{"Closed", "Simulator"}));
  auto log = s.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].actor, "owner");
  EXPECT_EQ(log[0].kind, "quit_app");
  EXPECT_EQ(log[0].name, "Closed");
}

}  // namespace
}  // namespace norvo
