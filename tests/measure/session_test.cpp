#include "core/measure/session.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

constexpr uint32_t kUid = 501;

// Processes of the test user, all started at `start`; the caller is pid 300.
ProcessReadings table(std::initializer_list<std::tuple<int32_t, int32_t, std::string>> list,
                      uint64_t start = 1000) {
  ProcessReadings out;
  for (const auto& [pid, ppid, name] : list) {
    ProcessReading& r = out[pid];
    r.pid = pid;
    r.ppid = ppid;
    r.name = name;
    r.startTime = start;
    r.responsiblePid = pid;
    r.uid = kUid;
  }
  return out;
}

TEST(SessionAgentFor, ChainThenLineage) {
  test::TempDir dir;
  auto lineage = dir.write("lineage.json", R"({"300:1000":77,"999:5":1})");
  auto missing = dir.path() / "none.json";
  auto corrupt = dir.write("corrupt.json", R"({"300:1000":)");
  struct Case {
    const char* label;
    ProcessReadings readings;
    std::filesystem::path lineage;
    std::optional<int32_t> expected;
  };
  // How the chain itself is walked is the classifier's, tested with it.
  const Case cases[] = {
      {"nearest agent wins",
       table({{300, 200, "zemnorvo"}, {200, 100, "codex"}, {100, 1, "claude"}}), missing, 200},
      {"the chain beats the lineage", table({{300, 200, "zemnorvo"}, {200, 1, "gemini"}}), lineage,
       200},
      {"orphaned server: the lineage remembers its agent", table({{300, 1, "zemnorvo"}}), lineage,
       77},
      {"a reused pid has another key", table({{300, 1, "zemnorvo"}}, 2000), lineage, std::nullopt},
      {"corrupt lineage counts as empty", table({{300, 1, "zemnorvo"}}), corrupt, std::nullopt},
      {"self not among the readings", table({{200, 1, "claude"}}), lineage, std::nullopt}};
  for (const auto& c : cases)
    EXPECT_EQ(Session::agentFor(300, kUid, c.readings, NorvoConfig::defaults(), c.lineage),
              c.expected)
        << c.label;
  // The owner's configuration decides what an agent is.
  NorvoConfig custom = NorvoConfig::defaults();
  custom.agentCommands = {"my-agent"};
  auto chain = table({{300, 200, "zemnorvo"}, {200, 100, "claude"}, {100, 1, "my-agent"}});
  EXPECT_EQ(Session::agentFor(300, kUid, chain, custom, missing), 100);
}

}  // namespace
}  // namespace norvo
