#include "core/fans/fan_helper.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "cli/child_process.hpp"
#include "core/fans/fan_helper_client.hpp"
#include "core/records/json_codec.hpp"
#include "fans/fan_tree.hpp"
#include "fans/simulated_smc.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Clock = FanHelper::Clock;

struct HelperRig {
  test::SimulatedSmc* machine = new test::SimulatedSmc({{}, {}});
  SMC smc{std::unique_ptr<platform::SmcTransport>(machine)};
  FanEngine engine{smc};
  FanHelper helper{engine, 10s};

  HelperRig() {
    engine.pause = [](double) {};
  }
  json ask(const std::string& request, Clock::time_point now = Clock::now()) {
    return json::parse(helper.handle(request, now));
  }
};

TEST(FanHelper, AnswersTheThreeCallsAndRefusesTheRest) {
  struct Case {
    std::string request;
    json expected;  // null: an error reply
  };
  for (const auto& c : std::vector<Case>{
           {R"({"call":"setFan:mode:rpm:reply:","fan":0,"mode":"boost","rpm":0})",
            {{"success", true}, {"message", "fan 0 manual 4080 rpm (asked 4080): 4080 rpm"}}},
           {R"({"call":"setFan:mode:rpm:reply:","fan":0,"mode":"auto","rpm":0})",
            {{"success", true}, {"message", "fan 0: auto"}}},
           // A preset looks the fan up itself before the engine is asked.
           {R"({"call":"setFan:mode:rpm:reply:","fan":5,"mode":"max","rpm":0})",
            {{"success", false}, {"message", "no fan 5"}}},
           {R"({"call":"setFan:mode:rpm:reply:","fan":0,"mode":"turbo","rpm":0})",
            {{"success", false},
             {"message", "unknown mode \"turbo\" (auto, boost, max or manual)"}}},
           {R"({"call":"setFan:mode:rpm:reply:","fan":"0","mode":"auto","rpm":0})", nullptr},
           {R"({"call":"setFan:mode:rpm:reply:","fan":0,"mode":"auto"})", nullptr},
           {R"({"call":"statusWithReply"})", nullptr},
           {"{\"call\":", nullptr},
           {std::string("\xff\xfe", 2), nullptr}}) {
    HelperRig rig;
    auto reply = rig.ask(c.request);
    if (c.expected.is_null())
      EXPECT_TRUE(reply.contains("error") && reply["error"].is_string()) << c.request;
    else
      EXPECT_EQ(reply, c.expected) << c.request;
  }
}

TEST(FanHelper, ManualSettingLapsesUnlessRenewed) {
  HelperRig rig;
  auto t0 = Clock::now();
  std::string boost = R"({"call":"setFan:mode:rpm:reply:","fan":0,"mode":"boost","rpm":0})";
  ASSERT_EQ(rig.ask(boost, t0)["success"], true);
  rig.helper.expireLeases(t0 + 9s);
  EXPECT_EQ(rig.machine->get("F0Md"), 1);
  ASSERT_EQ(rig.ask(boost, t0 + 9s)["success"], true);  // renewed: ten more seconds
  rig.helper.expireLeases(t0 + 15s);
  EXPECT_EQ(rig.machine->get("F0Md"), 1);
  rig.helper.expireLeases(t0 + 19s);
  EXPECT_EQ(rig.machine->get("F0Md"), 0);
}

// ---- The helper as root runs it: the zemnorvo binary on a socket ----

struct RunningHelper {
  test::FanTree tree;
  std::filesystem::path socket = tree.dir.path() / "helper.sock";
  test::ChildProcess child;
  FanHelperClient client;

  explicit RunningHelper(const std::string& lease = "30")
      : child({test::cliPath(), "fan-helper", "--root", tree.dir.path().string(), "--socket",
               socket.string(), "--lease", lease, "--allow-user", "4242"}) {
    client.socket = socket;
    client.expectedOwner = ::geteuid();
    if (!test::waitFor([&] { return std::filesystem::exists(socket); }, 20s))
      ADD_FAILURE() << "the helper did not listen: " << child.readErrors(1s);
  }
};

TEST(FanHelperProcess, ServesTheThreeCallsAndGivesFansBackWhenStopped) {
  RunningHelper h;
  FanHelperClient::Error e;
  ASSERT_TRUE(h.client.status(e)) << e.message;

  auto set = h.client.setFan(0, "max", 0, e);
  ASSERT_TRUE(set) << e.message;
  EXPECT_EQ(*set, (FanEngine::Outcome{true, "fan 0 manual 6000 rpm (asked 6000): 6000 rpm"}));
  EXPECT_EQ(h.tree.read(h.tree.applesmc / "fan1_manual"), "1");
  EXPECT_EQ(h.client.resetAll(e), true);
  EXPECT_EQ(h.tree.read(h.tree.applesmc / "fan1_manual"), "0");

  // Bad input is answered, and the helper goes on serving.
  EXPECT_FALSE(h.client.call({{"call", "format the disk"}}, e));
  EXPECT_EQ(e.failure, FanHelperClient::Failure::refused);
  ASSERT_TRUE(h.client.setFan(2, "manual", 1500, e)) << e.message;
  EXPECT_EQ(h.tree.read(h.tree.nct / "pwm1_enable"), "1");

  h.child.signal(SIGTERM);
  EXPECT_EQ(h.child.wait(10s), 0);
  EXPECT_EQ(h.tree.read(h.tree.nct / "pwm1_enable"), "5");
  EXPECT_FALSE(std::filesystem::exists(h.socket));
}

TEST(FanHelperProcess, LapsedLeaseGivesTheFanBack) {
  RunningHelper h("0.3");
  FanHelperClient::Error e;
  auto set = h.client.setFan(1, "boost", 0, e);
  ASSERT_TRUE(set && set->success) << e.message;
  EXPECT_TRUE(
      test::waitFor([&] { return h.tree.read(h.tree.applesmc / "fan2_manual") == "0"; }, 10s));
}

TEST(FanHelperProcess, StartGivesBackWhatAnEarlierRunLeftManual) {
  test::FanTree left;
  left.dir.write(left.applesmc / "fan1_manual", "1\n");
  test::ChildProcess child({test::cliPath(), "fan-helper", "--root", left.dir.path().string(),
                            "--socket", (left.dir.path() / "s").string()});
  test::waitFor([&] { return std::filesystem::exists(left.dir.path() / "s"); }, 20s);
  EXPECT_EQ(left.read(left.applesmc / "fan1_manual"), "0");
}

// Only root and the allowed user get in; a client trusts only a socket that
// root owns with the helper's mode.
TEST(FanHelperProcess, BothSidesCheckWhoIsAtTheOtherEnd) {
  RunningHelper h;
  ::chmod(h.tree.dir.path().c_str(), 0755);
  // A client of another user: a child turned into nobody when we are root,
  // else this process itself, which is neither root nor user 4242.
  using Failure = FanHelperClient::Failure;
  auto failureOf = [](FanHelperClient client) {
    FanHelperClient::Error e;
    return client.status(e) ? std::nullopt : std::optional(e.failure);
  };
  auto refusedAs = [&](uid_t uid) {
    if (uid == ::geteuid()) return failureOf(h.client) == Failure::refused;
    pid_t pid = ::fork();
    if (pid == 0) {
      if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(3);
      ::_exit(failureOf(h.client) == Failure::refused ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  EXPECT_TRUE(refusedAs(::geteuid() == 0 ? 65534 : ::geteuid()));

  auto wrongOwner = h.client;
  wrongOwner.expectedOwner = 4242;
  EXPECT_EQ(failureOf(wrongOwner), Failure::untrusted);
  ::chmod(h.socket.c_str(), 0600);
  EXPECT_EQ(failureOf(h.client), Failure::untrusted);
  auto missing = h.client;
  missing.socket = h.tree.dir.path() / "nothing.sock";
  EXPECT_EQ(failureOf(missing), Failure::notRunning);
}

TEST(FansCommand, NoFansNoHelperAndUnderAnAgent) {
  test::TempDir empty;
  auto shown = test::zemnorvo({"fans", "--root", empty.path().string()});
  EXPECT_EQ(shown.status, 0) << shown.errors;
  auto set = test::zemnorvo(
      {"fans", "set", "0", "boost", "--socket", (empty.path() / "none.sock").string()});
  EXPECT_EQ(set.status, 1);
  EXPECT_NE(set.errors.find("systemctl enable --now zemnorvo-fan-helper@"), std::string::npos)
      << set.errors;

  auto refused = test::zemnorvoAsAgent(empty.path(), "fans set 0 max");
  EXPECT_EQ(refused.rfind("zemnorvo fans set changes the owner's fans and is refused", 0), 0u)
      << refused;
}

}  // namespace
}  // namespace norvo
