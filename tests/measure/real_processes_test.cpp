// `zemnorvo ps` and `explain` against a real process shaped as an agent is on
// Linux; it is killed and reaped by pid when the test ends, whatever its
// outcome.
#include "real_processes.hpp"

#include <gtest/gtest.h>

#include "core/records/json_codec.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using test::copyProgram;

TEST(RealProcesses, PsAndExplainCommands) {
  test::TempDir dir;
  test::Processes processes;
  pid_t agent =
      processes.start({"claude.exe", "600"}, copyProgram("/bin/sleep", dir.path() / "claude.exe"));
  ASSERT_GT(agent, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past exec: the copy's name

  auto explained = test::zemnorvo({"explain", std::to_string(agent)});
  EXPECT_EQ(explained.status, 0);
  EXPECT_EQ(explained.out.substr(0, explained.out.find(' ')), "claude.exe") << explained.out;
  EXPECT_NE(explained.out.find("\n→ ai_agent; my agent: -\n"), std::string::npos) << explained.out;
  auto unknown = test::zemnorvo({"explain", "2147483647"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");  // said on standard error

  auto listed = test::zemnorvo({"ps", "--json", "--interval", "0.1"});
  ASSERT_EQ(listed.status, 0);
  auto parsed = json_codec::decode(listed.out);
  ASSERT_TRUE(parsed && parsed->contains("processes") && parsed->contains("apps"));
  std::optional<ProcessCategory> category;
  for (const auto& p : parsed->at("processes"))
    if (p.get<ProcessSample>().pid == agent) category = p.get<ProcessSample>().category;
  EXPECT_EQ(category, ProcessCategory::aiAgent);
}

}  // namespace
}  // namespace norvo
