// Stopping AI work on real process trees: what an agent may never stop, what
// it may, how signals and waits behave, and that a pid reused between the
// check and the signal is never hit.
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
  // Started first and given time to drop to its user before the table first
  // sees it: the reader keeps each process's files open with the owner it
  // saw first.
  auto stranger = s.tree.startAs(65534, {"sleep", "600"}, "/bin/sleep");
  for (int i = 0;
       stranger > 0 && i < 100 &&
       test::readFile("/proc/" + std::to_string(stranger) + "/status").find("Uid:\t65534") ==
           std::string::npos;
       ++i)
    std::this_thread::sleep_for(20ms);
  auto compiler = s.program("bin/cc1plus");
  auto mine = s.agent(
      "a", quoted(compiler) + " 600 & " + quoted(s.program("bin/mcp-bridge")) + " 600 & wait");
  auto theirs = s.agent("b", quoted(compiler) + " 600 & wait");
  auto browser = s.tree.start({"firefox", "600"}, s.program("Firefox.app/Contents/MacOS/firefox"));
  ASSERT_TRUE(mine > 0 && theirs > 0 && browser > 0);
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return childOf(r, mine, "cc1plus") && childOf(r, mine, "mcp-bridge") &&
           childOf(r, theirs, "cc1plus") && r.count(browser) && r.at(browser).name == "firefox" &&
           (stranger < 0 || (r.count(stranger) && r.at(stranger).uid == 65534));
  });
  auto theirTask = childOf(readings, theirs, "cc1plus");
  auto myBridge = childOf(readings, mine, "mcp-bridge");
  ASSERT_TRUE(theirTask && myBridge);

  const std::string chain = "it is an MCP server or part of the process chain running this tool.";
  const std::string tool = "it is an AI tool itself (agent CLI or AI app).";
  const std::string system = "it is a system process or belongs to another user.";
  std::vector<std::pair<int32_t, std::string>> cases = {
      {browser, refusal("firefox", browser,
                        "it is the owner's app/process, not started by an AI agent. Propose it "
                        "with suggest_quit_apps instead.")},
      {mine, refusal("claude", mine, tool)},
      {theirs, refusal("claude", theirs, tool)},
      {*myBridge, refusal("mcp-bridge", *myBridge, chain)},
      {::getpid(), refusal(readings.at(::getpid()).name, ::getpid(), chain)},
      {*theirTask,
       refusal("cc1plus", *theirTask,
               "it belongs to another live AI session (agent pid " + std::to_string(theirs) +
                   "). Do not disturb it; wait_for_capacity or ask the owner.")},
  };
  if (::getppid() > 1 && readings.count(::getppid()))
    cases.push_back({::getppid(), refusal(readings.at(::getppid()).name, ::getppid(), chain)});
  if (stranger > 0) cases.push_back({stranger, refusal("sleep", stranger, system)});
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

// An agent's own tasks: the child trees and the pid reuse below.
TEST(AIProcessControl, OrphansToAnAgentWithoutPidAnyTaskToTheOwnerAndLogsEach) {
  Sandbox s;
  if (s.underAgent()) GTEST_SKIP() << "run under an agent";
  auto gone = s.agent("c", quoted(s.program("bin/ld")) + " 600 & wait");
  auto other = s.agent("b", quoted(s.program("bin/rustc")) + " 600 & wait");
  auto readings = readUntil(s.table, [&](const ProcessReadings& r) {
    return childOf(r, gone, "ld") && childOf(r, other, "rustc");
  });
  auto orphan = childOf(readings, gone, "ld");
  auto otherTask = childOf(readings, other, "rustc");
  ASSERT_TRUE(orphan && otherTask);

  // The orphan's agent exits; the task comes back to this sub-reaper, and only
  // the remembered lineage still names its agent.
  record_file::write(std::map<std::string, int32_t>{{readings.at(*orphan).key(), gone}},
                     s.store.path() / "lineage.json");
  ::kill(gone, SIGKILL);
  ::waitpid(gone, nullptr, 0);
  readUntil(s.table, [&](const ProcessReadings& r) {
    return r.count(*orphan) && r.at(*orphan).ppid == ::getpid();
  });

  // An agent without a pid may stop orphans, and only them.
  EXPECT_FALSE(s.stop(*otherTask, StopCaller::agent(std::nullopt)).ok);
  EXPECT_EQ(s.stop(*orphan, StopCaller::agent(std::nullopt)),
            (StopResult{true, "Sent SIGTERM to 1 process(es); 1 exited.", {*orphan}, {}}));
  EXPECT_EQ(s.stop(*otherTask, StopCaller(std::nullopt), true),
            (StopResult{true, "Sent SIGKILL to 1 process(es); 1 exited.", {*otherTask}, {}}));

  using Entry = std::tuple<std::string, std::string, int32_t, std::string, std::string>;
  std::vector<Entry> logged;
  for (const auto& a : s.log()) logged.emplace_back(a.actor, a.kind, a.pid, a.name, a.detail);
  EXPECT_EQ(logged, (std::vector<Entry>{
                        {"owner", "stop_ai_process", *otherTask, "rustc", "SIGKILL; runaway"},
                        {"ai", "stop_ai_process", *orphan, "ld", "SIGTERM; runaway"}}));
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

// The rows the process trees above do not reach: tasks whose agent is unknown.
TEST(AIProcessControl, SessionRuleForTasksOfNoKnownAgent) {
  const std::tuple<StopCaller, bool, bool> cases[] = {
      {StopCaller(std::nullopt), false, false},
      {StopCaller::agent(7), false, true},
      {StopCaller::agent(7), true, false},
      {StopCaller::agent(std::nullopt), false, true},
  };
  for (const auto& [by, orphaned, refused] : cases)
    EXPECT_EQ(AIProcessControl::otherSession(by, std::nullopt, orphaned), refused)
        << by.owner << " " << by.agentPid.value_or(-1) << " " << orphaned;
}

// The owner accepts quitting a running app, one that has gone and the
// Simulator: every process of the running app is asked to quit, nothing else
// is touched, and the agent reads back which apps went and why the rest stayed.
// (Declining is driven end to end by the desktop companion's suite.)
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

  auto item = [](std::string name, fs::path bundle, int32_t pid) {
    QuitSuggestion::Item i;
    i.name = std::move(name);
    i.bundlePath = bundle.string();
    i.mainPid = pid;
    return i;
  };
  std::vector<QuitSuggestion::Item> items = {
      item("Editor", s.dir.path() / "Editor.app", main),
      item("Closed", s.dir.path() / "Closed.app", std::numeric_limits<int32_t>::max()),
      item("Simulator", "/Applications/Xcode.app/Contents/Developer/Applications/Simulator.app",
           std::numeric_limits<int32_t>::max())};
  auto accepted = QuitSuggestion::make("claude", "build is slow", items);
  NorvoStore::addSuggestion(accepted, s.store.path());
  std::map<std::string, std::string> keptBecause;
  QuitPlan::answer(accepted, true, s.table, s.store.path(), QuitWatch::grace, &keptBecause);
  reapMain.join();
  reapHelper.join();
  EXPECT_TRUE(s.alive(namesake, readings.at(namesake).startTime));

  EXPECT_TRUE(NorvoStore::pendingSuggestions(s.store.path()).empty());
  auto yes = NorvoStore::suggestion(accepted.id, s.store.path());
  ASSERT_TRUE(yes);
  using Names = std::vector<std::string>;
  EXPECT_EQ(std::tuple(yes->status, yes->quit, yes->kept),
            std::tuple("accepted", Names{"Editor"}, Names{"Closed", "Simulator"}));
  EXPECT_EQ(keptBecause, (std::map<std::string, std::string>{{"Closed", "it was not running"},
                                                             {"Simulator", "it was not running"}}));
  EXPECT_TRUE(yes->answeredAt.has_value());
  auto log = s.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(std::tuple(log[0].actor, log[0].kind, log[0].name, log[0].pid),
            std::tuple("owner", "quit_app", "Editor", main));
}

}  // namespace
}  // namespace norvo
