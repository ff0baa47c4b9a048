#include "core/measure/session.hpp"

#include <gtest/gtest.h>

#include "core/platform/linux/process_chain_parsers.hpp"
#include "core/platform/process_chain.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

ProcessReading reading(int32_t pid, int32_t ppid, std::string name, std::string arguments = "",
                       uint64_t start = 1000) {
  ProcessReading r;
  r.pid = pid;
  r.ppid = ppid;
  r.name = std::move(name);
  r.arguments = std::move(arguments);
  r.startTime = start;
  r.responsiblePid = pid;
  return r;
}

std::map<int32_t, ProcessReading> table(std::initializer_list<ProcessReading> list) {
  std::map<int32_t, ProcessReading> out;
  for (const auto& r : list) out[r.pid] = r;
  return out;
}

TEST(SessionAgentFor, ChainThenLineage) {
  test::TempDir dir;
  auto lineage = dir.write("lineage.json", R"({"300:1000":77,"999:5":1})");
  auto missing = dir.path() / "none.json";
  auto corrupt = dir.write("corrupt.json", R"({"300:1000":)");
  const auto& config = NorvoConfig::defaults();

  struct Case {
    const char* label;
    std::map<int32_t, ProcessReading> readings;
    std::filesystem::path lineage;
    std::optional<int32_t> expected;
  };
  const Case cases[] = {
      {"agent command among the ancestors",
       table({reading(300, 200, "zemnorvo"), reading(200, 100, "zsh"), reading(100, 1, "claude")}),
       missing, 100},
      {"nearest agent wins",
       table(
           {reading(300, 200, "zemnorvo"), reading(200, 100, "codex"), reading(100, 1, "claude")}),
       missing, 200},
      {"interpreter with an agent's package marker",
       table({reading(300, 200, "zemnorvo"),
              reading(200, 1, "node",
                      "node /usr/lib/node_modules/@anthropic-ai/claude-code/cli.js")}),
       missing, 200},
      {"interpreter without a marker is not an agent",
       table({reading(300, 200, "zemnorvo"), reading(200, 1, "python3.12", "python3.12 serve.py")}),
       missing, std::nullopt},
      {"any python name counts as an interpreter",
       table(
           {reading(300, 200, "zemnorvo"), reading(200, 1, "python3.12", "python -m aider-chat")}),
       missing, 200},
      {"the chain beats the lineage",
       table({reading(300, 200, "zemnorvo"), reading(200, 1, "gemini")}), lineage, 200},
      {"orphaned server: the lineage remembers its agent", table({reading(300, 1, "zemnorvo")}),
       lineage, 77},
      {"a reused pid has another key", table({reading(300, 1, "zemnorvo", "", 2000)}), lineage,
       std::nullopt},
      {"corrupt lineage counts as empty", table({reading(300, 1, "zemnorvo")}), corrupt,
       std::nullopt},
      {"a parent loop ends the walk",
       table({reading(300, 200, "zemnorvo"), reading(200, 300, "bash")}), missing, std::nullopt},
      {"self not among the readings", table({reading(200, 1, "claude")}), lineage, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Session::agentFor(300, c.readings, config, c.lineage), c.expected) << c.label;

  // The owner's configuration decides what an agent is.
  NorvoConfig custom = config;
  custom.agentCommands = {"my-agent"};
  auto chain = table(
      {reading(300, 200, "zemnorvo"), reading(200, 100, "claude"), reading(100, 1, "my-agent")});
  EXPECT_EQ(Session::agentFor(300, chain, custom, missing), 100);
}

TEST(SessionMyAgent, FixedForTheProcess) {
  const auto& first = Session::myAgent();
  EXPECT_EQ(&first, &Session::myAgent());
}

TEST(ProcessChainParsers, StatCmdlineBootTime) {
  auto stat = platform::parse::processStat(
      "4242 (we ird) (name) S 17 4242 4242 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 98765 1000 "
      "200 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n");
  ASSERT_TRUE(stat.has_value());
  EXPECT_EQ(stat->comm, "we ird) (name");
  EXPECT_EQ(stat->ppid, 17);
  EXPECT_EQ(stat->startTicks, 98765u);
  for (const char* bad : {"", "4242 (x S 17", "4242 (x) S 17 1 2",
                          "4242 (x) S -3 4242 4242 0 -1 "
                          "4 1 0 0 0 5 3 0 0 20 0 1 0 98765"})
    EXPECT_FALSE(platform::parse::processStat(bad).has_value()) << bad;

  EXPECT_EQ(platform::parse::commandLine(std::string("node\0cli.js\0--x\0", 16)),
            "node cli.js --x");
  EXPECT_EQ(platform::parse::commandLine(std::string(450, 'a')), std::string(400, 'a') + "…");
  EXPECT_EQ(platform::parse::commandLine(""), "");

  EXPECT_EQ(platform::parse::bootTime("cpu 1 2 3 4\nbtime 1700000000\nprocesses 5\n"), 1700000000u);
  EXPECT_FALSE(platform::parse::bootTime("cpu 1 2 3 4\n").has_value());
}

TEST(ProcessChainRead, WalksUpFromAFixtureTree) {
  test::TempDir dir;
  auto roots = platform::Roots::under(dir.path());
  auto stat = [](int pid, const char* comm, int ppid, int ticks) {
    return std::to_string(pid) + " (" + comm + ") S " + std::to_string(ppid) +
           " 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " + std::to_string(ticks) + " 0 0\n";
  };
  dir.write("proc/stat", "cpu 1 2 3 4\nbtime 1700000000\n");
  dir.write("proc/300/stat", stat(300, "zemnorvo", 200, 500));
  dir.write("proc/300/cmdline", std::string("zemnorvo\0mcp\0", 13));
  dir.write("proc/200/stat", stat(200, "claude", 100, 100));
  dir.write("proc/100/stat", stat(100, "bash", 50, 0));  // parent 50 vanished

  auto chain = platform::process_chain::read(300, roots);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(chain.at(300).arguments, "zemnorvo mcp");
  EXPECT_EQ(chain.at(300).ppid, 200);
  EXPECT_EQ(chain.at(200).name, "claude");
  // Start time from boot time plus clock ticks (100 per second on Linux).
  EXPECT_EQ(chain.at(300).key(), "300:1700000005");
  EXPECT_EQ(Session::agentFor(300, chain, NorvoConfig::defaults(), dir.path() / "none.json"), 200);

  EXPECT_TRUE(platform::process_chain::read(999, roots).empty());
}

}  // namespace
}  // namespace norvo
