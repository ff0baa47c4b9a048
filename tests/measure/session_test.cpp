#include "core/measure/session.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

constexpr uint32_t kUid = 501;

ProcessReading reading(int32_t pid, int32_t ppid, std::string name, std::string arguments = "",
                       uint64_t start = 1000) {
  ProcessReading r;
  r.pid = pid;
  r.ppid = ppid;
  r.name = std::move(name);
  r.arguments = std::move(arguments);
  r.startTime = start;
  r.responsiblePid = pid;
  r.uid = kUid;
  return r;
}

ProcessReadings table(std::initializer_list<ProcessReading> list) {
  ProcessReadings out;
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
    ProcessReadings readings;
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
    EXPECT_EQ(Session::agentFor(300, kUid, c.readings, config, c.lineage), c.expected) << c.label;

  // The owner's configuration decides what an agent is.
  NorvoConfig custom = config;
  custom.agentCommands = {"my-agent"};
  auto chain = table(
      {reading(300, 200, "zemnorvo"), reading(200, 100, "claude"), reading(100, 1, "my-agent")});
  EXPECT_EQ(Session::agentFor(300, kUid, chain, custom, missing), 100);
}

TEST(SessionMyAgent, FixedForTheProcess) {
  const auto& first = Session::myAgent();
  EXPECT_EQ(&first, &Session::myAgent());
}

}  // namespace
}  // namespace norvo
