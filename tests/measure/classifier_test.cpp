#include "core/measure/classifier.hpp"

#include <gtest/gtest.h>

#include "core/measure/norvo_config.hpp"
#include "core/measure/session.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

constexpr uint32_t me = 501;
using C = ProcessCategory;

ProcessReading proc(int32_t pid, int32_t ppid, std::string path, std::string arguments = "",
                    uint32_t uid = me) {
  ProcessReading r;
  r.pid = pid;
  r.ppid = ppid;
  r.uid = uid;
  r.path = std::move(path);
  r.name = r.path.empty() ? "kworker/0:1" : r.path.substr(r.path.rfind('/') + 1);
  r.command = r.name.substr(0, 15);
  r.arguments = std::move(arguments);
  r.responsiblePid = pid;
  return r;
}

// A small machine: a terminal running a shell that runs this tool under
// Claude, Claude's compiler and MCP server, an unrelated node server, apps.
ProcessReadings machine() {
  ProcessReadings m;
  for (auto r :
       {proc(100, 1, "/usr/bin/gnome-terminal-server"),
        proc(110, 100, "/usr/bin/bash", "bash"),
        proc(120, 110, "/home/me/.local/share/claude/versions/claude.exe", "claude"),
        proc(130, 120, "/usr/bin/zsh", "/bin/zsh -c make"),
        proc(131, 130, "/usr/bin/cc1plus", "cc1plus -O2 main.cpp"),
        proc(132, 120, "/usr/bin/node", "node /srv/servers/github-MCP/index.js"),
        proc(140, 131, "/opt/tools/zemnorvo", "zemnorvo status"),  // the caller
        proc(200, 1, "/usr/bin/node", "node server.js --name claude"),
        proc(201, 1, "/usr/bin/node",
             "node /usr/lib/node_modules/@anthropic-ai/claude-code/cli.js"),
        proc(202, 1, "/usr/bin/python3.12", "python3.12 -m aider-chat"),
        proc(210, 1, "/usr/bin/node", "node /home/me/.npm/bin/gemini --yolo"),
        proc(211, 1, "/usr/bin/node", "node --no-warnings /usr/local/bin/codex"),
        proc(212, 211, "/usr/local/lib/node_modules/@openai/codex/vendor/codex/codex", "codex"),
        proc(220, 1, "/home/me/.local/share/claude/versions/2.0.14", "claude"),
        proc(300, 1, "/Applications/Cursor.app/Contents/MacOS/Cursor"),
        proc(301, 1, "/opt/helper/bin/helper"),
        proc(302, 1, "/usr/share/zed/zed-editor"),
        proc(312, 1, "/opt/homebrew/bin/redis-server"),
        proc(314, 2, ""),
        proc(315, 1, "/usr/lib/firefox/firefox"),
        proc(400, 1, "/usr/local/bin/claude", "claude", /*uid=*/0),
        proc(500, 1, "/usr/bin/cc1plus", "cc1plus orphan.cpp"),
        proc(502, 77, "/usr/bin/cc1plus", "cc1plus under a sub-reaper"),
        proc(77, 1, "/usr/lib/systemd/systemd", "/usr/lib/systemd/systemd --user")})
    m[r.pid] = r;
  m[220].command = "claude";  // started through a link named "claude"
  m[301].responsiblePid = 300;
  m[302].appEntry = "/usr/share/applications/dev.zed.Zed.desktop";
  m[315].appEntry = "/usr/share/applications/firefox.desktop";
  return m;
}

Classifier classifier(const ProcessReadings& m, NorvoConfig config = NorvoConfig::defaults(),
                      int32_t self = 140) {
  return Classifier(std::move(config), m, self, me);
}

TEST(ClassifierAgents, VocabularyAndLinuxShapes) {
  auto m = machine();
  auto c = classifier(m);
  for (auto [pid, agent] : std::vector<std::pair<int32_t, bool>>{
           {202, true},   // python with any suffix is an interpreter; marker "aider-chat"
           {210, true},   // npm-installed script named after the command
           {211, true},   // options before the script are skipped
           {212, true},   // codex's native child
           {220, true}})  // started through a link named "claude"
    EXPECT_EQ(c.isAgent(m.at(pid)), agent) << pid;
  // The vocabulary is the owner's: without "gemini" the npm script is a plain node.
  auto config = NorvoConfig::defaults();
  std::erase(config.agentCommands, "gemini");
  EXPECT_FALSE(classifier(m, config).isAgent(m.at(210)));
}

TEST(ClassifierRules, EveryRuleInOrder) {
  auto m = machine();
  auto c = classifier(m);
  EXPECT_EQ(c.selfChain(), (std::vector<int32_t>{140, 131, 130, 120, 110, 100}));
  EXPECT_EQ(c.myAgent(), 120);
  // The process, the agent remembered for it, and what it is.
  using Case = std::tuple<int32_t, std::optional<int32_t>, Classifier::Result>;
  for (const auto& [pid, remembered, expected] : std::vector<Case>{
           {400, std::nullopt, {C::system, {}, false}},    // rule 1: another user's "claude"
           {120, std::nullopt, {C::aiAgent, {}, false}},   // rule 2: the caller's agent
           {131, std::nullopt, {C::aiInfra, {}, false}},   // rule 2: no bundle on the chain
           {201, std::nullopt, {C::aiAgent, {}, false}},   // rule 3
           {132, std::nullopt, {C::aiInfra, 120, false}},  // rules 4 and 8: "MCP" any case
           {500, 120, {C::aiTask, 120, false}},            // rule 5: agent still runs
           {500, 999, {C::aiTask, 999, true}},             // rule 5: agent gone
           {500, 131, {C::aiTask, 131, true}},             // remembered pid is no agent now
           {502, 999, {C::aiTask, 999, true}},             // reparented to a sub-reaper
           {500, std::nullopt, {C::system, {}, false}},
           {300, std::nullopt, {C::aiAgent, {}, false}},  // rule 6: Cursor by its bundle
           {301, std::nullopt, {C::aiAgent, {}, false}},  // … through its responsible process
           {302, std::nullopt, {C::aiAgent, {}, false}},  // … by desktop entry "dev.zed.Zed"
           {200, std::nullopt, {C::system, {}, false}},   // rule 7: node under /usr
           {312, std::nullopt, {C::userApp, {}, false}},
           {314, std::nullopt, {C::system, {}, false}},    // a kernel thread
           {315, std::nullopt, {C::userApp, {}, false}}})  // a desktop app under /usr
    EXPECT_EQ(c.classify(m.at(pid), remembered), expected) << pid;

  // A task still under its remembered agent's subtree is not reparented, even
  // when that agent no longer counts as one: without a marker, 201 is a node.
  m[600] = proc(600, 201, "/usr/bin/cc1plus");
  auto config = NorvoConfig::defaults();
  config.agentArgumentMarkers.clear();
  EXPECT_EQ(classifier(m, config).classify(m.at(600), 201).category, C::system);
}

TEST(ClassifierRules, UnknownCallerAppsOnTheCallersChainAndParentLoops) {
  auto m = machine();
  EXPECT_TRUE(classifier(m, NorvoConfig::defaults(), 99999).selfChain().empty());
  // An AI app on the caller's chain makes it an agent (rule 2), whether a
  // bundle or a desktop entry says so.
  for (int32_t app : {300, 302})
    EXPECT_EQ(classifier(m, NorvoConfig::defaults(), app).classify(m.at(app), {}).category,
              C::aiAgent)
        << app;
  m[700] = proc(700, 701, "/opt/a");
  m[701] = proc(701, 700, "/opt/b");
  auto loop = classifier(m, NorvoConfig::defaults(), 700);
  EXPECT_EQ(loop.selfChain(), (std::vector<int32_t>{700, 701}));
  EXPECT_FALSE(loop.agentAncestor(m.at(700)).has_value());
}

// Processes of the test user, all started at `start`; the caller is pid 300.
ProcessReadings table(std::initializer_list<std::tuple<int32_t, int32_t, std::string>> list,
                      uint64_t start = 1000) {
  ProcessReadings out;
  for (const auto& [pid, ppid, name] : list) {
    out[pid] = proc(pid, ppid, name);
    out[pid].startTime = start;
  }
  return out;
}

TEST(SessionAgentFor, ChainThenLineage) {
  test::TempDir dir;
  auto lineage = dir.write("lineage.json", R"({"300:1000":77,"999:5":1})");
  auto missing = dir.path() / "none.json";
  auto corrupt = dir.write("corrupt.json", R"({"300:1000":)");
  // What the row shows, the processes, the lineage file and the agent found.
  using Case =
      std::tuple<const char*, ProcessReadings, std::filesystem::path, std::optional<int32_t>>;
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
  for (const auto& [label, readings, file, expected] : cases)
    EXPECT_EQ(Session::agentFor(300, me, readings, NorvoConfig::defaults(), file), expected)
        << label;
  // The owner's configuration decides what an agent is.
  NorvoConfig custom = NorvoConfig::defaults();
  custom.agentCommands = {"my-agent"};
  auto chain = table({{300, 200, "zemnorvo"}, {200, 100, "claude"}, {100, 1, "my-agent"}});
  EXPECT_EQ(Session::agentFor(300, me, chain, custom, missing), 100);
}

// Which config.json is in force, why another one was passed over, and what a
// usable one changes.
TEST(ConfigSource, FirstUsableFileWinsAndEveryPassedOverFileSaysWhy) {
  const std::string valid =
      R"({"agentCommands":["mine"],"agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[]})";
  // What the row shows, the configuration folder's and the store's file, which
  // of them is used (0 or 1), and what each passed-over file is said to lack.
  using Opt = std::optional<std::string>;
  const std::tuple<const char*, Opt, Opt, std::optional<int>, std::vector<std::string>> rows[] = {
      {"neither exists", std::nullopt, std::nullopt, std::nullopt, {}},
      {"the configuration folder's first", valid, "{}", 0, {}},
      {"a broken one falls back to the store's", "{not json", valid, 1, {"not JSON"}},
      // A key of the wrong type is passed over as a missing one is: the field list decides both.
      {"a key missing",
       R"({"agentCommands":[],"aiApps":[],"neverSuggest":[]})",
       std::nullopt,
       std::nullopt,
       {"agentArgumentMarkers"}},
  };
  for (const auto& [name, xdg, store, usedIndex, reasons] : rows) {
    test::TempDir dir;
    std::vector<std::filesystem::path> files{dir.path() / "config/config.json",
                                             dir.path() / "store/config.json"};
    if (xdg) dir.write("config/config.json", *xdg);
    if (store) dir.write("store/config.json", *store);
    NorvoConfig::Source source;
    auto config = NorvoConfig::load(files, source);
    if (usedIndex) {
      EXPECT_EQ(source.file, files[static_cast<size_t>(*usedIndex)]) << name;
      // The file's lists replace the defaults rather than adding to them.
      EXPECT_EQ(config.agentCommands, std::vector<std::string>{"mine"}) << name;
    } else {
      EXPECT_FALSE(source.file) << name;
      EXPECT_EQ(config, NorvoConfig::defaults()) << name;
    }
    ASSERT_EQ(source.ignored.size(), reasons.size()) << name;
    for (size_t i = 0; i < reasons.size(); ++i)
      EXPECT_NE(source.ignored[i].find(reasons[i]), std::string::npos)
          << name << ": " << source.ignored[i];
  }
}

}  // namespace
}  // namespace norvo
