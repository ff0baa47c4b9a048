#include "core/measure/classifier.hpp"

#include <gtest/gtest.h>

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
           {120, true},   // "claude.exe": the suffix is ignored
           {200, false},  // node with "claude" only among its options
           {201, true},   // argument marker
           {202, true},   // python with any suffix is an interpreter; marker "aider-chat"
           {210, true},   // npm-installed script named after the command
           {211, true},   // options before the script are skipped
           {212, true},   // codex's native child
           {220, true},   // started through a link named "claude"
           {131, false}})
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
  struct Case {
    int32_t pid;
    std::optional<int32_t> remembered;
    Classifier::Result expected;
  };
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

}  // namespace
}  // namespace norvo
