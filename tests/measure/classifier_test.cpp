#include "core/measure/classifier.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

constexpr uint32_t me = 501;
using Result = Classifier::Result;

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
  auto add = [&](ProcessReading r) { m[r.pid] = std::move(r); };
  add(proc(100, 1, "/usr/bin/gnome-terminal-server"));
  add(proc(110, 100, "/usr/bin/bash", "bash"));
  add(proc(120, 110, "/home/me/.local/share/claude/versions/claude.exe", "claude"));
  add(proc(130, 120, "/usr/bin/zsh", "/bin/zsh -c make"));
  add(proc(131, 130, "/usr/bin/cc1plus", "cc1plus -O2 main.cpp"));
  add(proc(132, 120, "/usr/bin/node", "node /srv/servers/github-MCP/index.js"));
  add(proc(140, 131, "/opt/tools/zemnorvo", "zemnorvo status"));  // the caller
  add(proc(200, 1, "/usr/bin/node", "node server.js --name claude"));
  add(proc(201, 1, "/usr/bin/node", "node /usr/lib/node_modules/@anthropic-ai/claude-code/cli.js"));
  add(proc(202, 1, "/usr/bin/python3.12", "python3.12 -m aider-chat"));
  add(proc(210, 1, "/usr/bin/node", "node /home/me/.npm/bin/gemini --yolo"));
  add(proc(211, 1, "/usr/bin/node", "node --no-warnings /usr/local/bin/codex"));
  add(proc(212, 211, "/usr/local/lib/node_modules/@openai/codex/vendor/codex/codex", "codex"));
  add(proc(220, 1, "/home/me/.local/share/claude/versions/2.0.14", "claude"));
  m[220].command = "claude";
  add(proc(300, 1, "/Applications/Cursor.app/Contents/MacOS/Cursor"));
  add(proc(301, 1, "/opt/helper/bin/helper"));
  m[301].responsiblePid = 300;
  add(proc(302, 1, "/usr/share/zed/zed-editor"));
  m[302].appEntry = "/usr/share/applications/dev.zed.Zed.desktop";
  add(proc(310, 1, "/System/Library/CoreServices/Dock.app/Contents/MacOS/Dock"));
  add(proc(311, 1, "/Applications/Notes.app/Contents/MacOS/Notes"));
  add(proc(312, 1, "/opt/homebrew/bin/redis-server"));
  add(proc(313, 1, "/usr/sbin/cron"));
  add(proc(314, 2, ""));
  add(proc(315, 1, "/usr/lib/firefox/firefox"));
  m[315].appEntry = "/usr/share/applications/firefox.desktop";
  add(proc(316, 1, "/lib/systemd/systemd-udevd"));
  add(proc(400, 1, "/usr/local/bin/claude", "claude", /*uid=*/0));
  add(proc(500, 1, "/usr/bin/cc1plus", "cc1plus orphan.cpp"));
  add(proc(501, 1, "/usr/bin/node", "node mcp-server.js"));
  add(proc(502, 77, "/usr/bin/cc1plus", "cc1plus under a sub-reaper"));
  add(proc(77, 1, "/usr/lib/systemd/systemd", "/usr/lib/systemd/systemd --user"));
  return m;
}

Classifier classifier(const ProcessReadings& m, NorvoConfig config = NorvoConfig::defaults()) {
  return Classifier(std::move(config), m, 140, me);
}

TEST(ClassifierAgentTest, VocabularyAndLinuxShapes) {
  auto m = machine();
  auto c = classifier(m);
  struct Case {
    int32_t pid;
    bool agent;
  };
  for (auto [pid, agent] : std::vector<Case>{
           {120, true},   // "claude.exe": the suffix is ignored
           {200, false},  // node with "claude" only among its options
           {201, true},   // argument marker
           {202, true},   // python with any suffix is an interpreter; marker "aider-chat"
           {210, true},   // npm-installed script named after the command
           {211, true},   // options before the script are skipped
           {212, true},   // codex's native child
           {220, true},   // started through a link named "claude"
           {131, false},
           {312, false},
       })
    EXPECT_EQ(c.isAgent(m.at(pid)), agent) << pid;

  EXPECT_TRUE(Classifier::isScriptInterpreter("python3.11"));
  EXPECT_TRUE(Classifier::isScriptInterpreter("Python"));
  EXPECT_FALSE(Classifier::isScriptInterpreter("nodejs-helper"));

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

  using C = ProcessCategory;
  struct Case {
    int32_t pid;
    std::optional<int32_t> remembered;
    Result expected;
  };
  for (const auto& [pid, remembered, expected] : std::vector<Case>{
           {400, std::nullopt, {C::system, {}, false}},   // rule 1: another user's "claude"
           {120, std::nullopt, {C::aiAgent, {}, false}},  // rule 2: the caller's agent
           {131, std::nullopt, {C::aiInfra, {}, false}},  // rule 2: no bundle on the chain
           {100, std::nullopt, {C::aiInfra, {}, false}},
           {201, std::nullopt, {C::aiAgent, {}, false}},  // rule 3
           {212, std::nullopt, {C::aiAgent, {}, false}},
           {132, std::nullopt, {C::aiInfra, 120, false}},  // rules 4 and 8: "MCP" any case
           {500, 120, {C::aiTask, 120, false}},            // rule 5: agent still runs
           {500, 999, {C::aiTask, 999, true}},             // rule 5: agent gone
           {500, 131, {C::aiTask, 131, true}},             // remembered pid is no agent now
           {501, 999, {C::aiInfra, 999, true}},
           {502, 999, {C::aiTask, 999, true}},  // reparented to a sub-reaper
           {500, std::nullopt, {C::system, {}, false}},
           {300, std::nullopt, {C::aiAgent, {}, false}},  // rule 6: Cursor by its bundle
           {301, std::nullopt, {C::aiAgent, {}, false}},  // … and through its responsible process
           {302, std::nullopt, {C::aiAgent, {}, false}},  // … and by desktop entry "dev.zed.Zed"
           {200, std::nullopt, {C::system, {}, false}},   // rule 7: node under /usr
           {310, std::nullopt, {C::system, {}, false}},
           {311, std::nullopt, {C::userApp, {}, false}},
           {312, std::nullopt, {C::userApp, {}, false}},
           {313, std::nullopt, {C::system, {}, false}},
           {314, std::nullopt, {C::system, {}, false}},
           {315, std::nullopt, {C::userApp, {}, false}},  // a desktop app under /usr
           {316, std::nullopt, {C::system, {}, false}},
       })
    EXPECT_EQ(c.classify(m.at(pid), remembered), expected) << pid;

  // A task still under its remembered agent's subtree is not reparented, even
  // when that agent no longer counts as one: without a marker, 201 is a node.
  auto quiet = m;
  quiet[600] = proc(600, 201, "/usr/bin/cc1plus");
  auto config = NorvoConfig::defaults();
  config.agentArgumentMarkers.clear();
  EXPECT_EQ(classifier(quiet, config).classify(quiet.at(600), 201).category, C::system);
}

TEST(ClassifierRules, CallerOutsideAnyAgent) {
  auto m = machine();
  Classifier c(NorvoConfig::defaults(), m, 312, me);
  EXPECT_EQ(c.selfChain(), (std::vector<int32_t>{312}));
  EXPECT_FALSE(c.myAgent().has_value());
  EXPECT_TRUE(Classifier(NorvoConfig::defaults(), m, 99999, me).selfChain().empty());
  // An AI app's bundle on the caller's chain makes it an agent (rule 2).
  EXPECT_EQ(Classifier(NorvoConfig::defaults(), m, 300, me).classify(m.at(300), {}).category,
            ProcessCategory::aiAgent);
  // Parent loops end the walks.
  m[700] = proc(700, 701, "/opt/a");
  m[701] = proc(701, 700, "/opt/b");
  Classifier loop(NorvoConfig::defaults(), m, 700, me);
  EXPECT_EQ(loop.selfChain(), (std::vector<int32_t>{700, 701}));
  EXPECT_FALSE(loop.agentAncestor(m.at(700)).has_value());
}

TEST(ClassifierExplanation, TextPieceByPiece) {
  auto m = machine();
  m[301].name = "helper";
  auto c = classifier(m);
  EXPECT_EQ(c.explanation(132),
            "node pid 132 ppid 120 uid 501\n"
            "path: /usr/bin/node\n"
            "args: node /srv/servers/github-MCP/index.js\n"
            "responsible: 132 node\n"
            "owning bundle: -\n"
            "agent CLI: false, AI app: false, agent ancestor: 120\n"
            "→ ai_infra (agent 120); my agent: 120");
  EXPECT_EQ(c.explanation(301),
            "helper pid 301 ppid 1 uid 501\n"
            "path: /opt/helper/bin/helper\n"
            "args: \n"
            "responsible: 300 Cursor\n"
            "owning bundle: /Applications/Cursor.app\n"
            "agent CLI: false, AI app: true, agent ancestor: -\n"
            "→ ai_agent; my agent: 120");
  m[301].responsiblePid = 4242;
  EXPECT_NE(classifier(m).explanation(301).find("\nresponsible: 4242 ?\n"), std::string::npos);
  EXPECT_EQ(c.explanation(31337), "no such pid");
}

}  // namespace
}  // namespace norvo
