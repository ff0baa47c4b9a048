// Connecting and disconnecting on fixture homes: a fake `claude` that logs
// its arguments, the owner's files with other tools' entries, and files this
// side must not touch.
#include "core/integration/integration.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

#include "core/integration/config_changes.hpp"
#include "test_support.hpp"

namespace norvo::Integration {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

// A home with every place of the tools inside it; Claude Desktop, Codex and
// Gemini count as installed once their folders exist.
struct Home {
  test::TempDir dir;
  fs::path home = dir.path() / "home";
  Context context;

  Home() {
    fs::create_directories(home);
    auto& p = context.places;
    p.home = home;
    p.claudeProgramPaths = {home / ".local/bin/claude"};
    p.claudeDesktopConfig = home / ".config/Claude/claude_desktop_config.json";
    p.claudeDesktopSigns = {home / ".config/Claude"};
    p.codexConfig = home / ".codex/config.toml";
    p.geminiSettings = home / ".gemini/settings.json";
    context.programTimeout = 2s;
    context.shellTimeout = 2s;
  }
  fs::path settings() const { return home / ".claude/settings.json"; }
  fs::path log() const { return dir.path() / "claude.log"; }
  // `claude` as a shell script: logs its arguments, then runs `body`.
  void claude(const std::string& body, const fs::path& where = {}) const {
    fs::path path = where.empty() ? home / ".local/bin/claude" : where;
    dir.write(fs::relative(path, dir.path()),
              "#!/bin/sh\necho \"$*\" >> '" + log().string() + "'\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all);
  }
  void installAll() const {
    for (const char* folder : {".config/Claude", ".codex", ".gemini"})
      fs::create_directories(home / folder);
  }
};

json readJson(const fs::path& path) { return json::parse(test::readFile(path)); }

const std::string kOtherHook =
    R"({"matcher":"Bash","hooks":[{"type":"command","command":"other-tool check"}]})";

TEST(Integration, ConnectsAFreshHomeAndDisconnectRemovesExactlyThat) {
  Home h;
  h.installAll();
  h.claude("exit 0");
  const std::string exe = "/opt/zemnorvo/bin/zemnorvo";
  const std::string link = (h.home / ".local/bin/zemnorvo").string();

  auto report = connect(exe, h.context);
  EXPECT_TRUE(report.complete);
  EXPECT_EQ(report.messages,
            (std::vector<std::string>{
                "CLI: " + link + " \u2192 " + exe,
                "Claude Code: MCP server zemra-norvo added (user scope)",
                "Claude Code: hooks added to " + h.settings().string(),
                "Claude Desktop: MCP server added (restart Claude to load it)",
                "Codex CLI: MCP server added to " + (h.home / ".codex/config.toml").string(),
                "Gemini CLI: MCP server added to " + (h.home / ".gemini/settings.json").string(),
            }));
  EXPECT_EQ(fs::read_symlink(link).string(), exe);
  EXPECT_EQ(test::readFile(h.log()),
            "mcp remove zemra-norvo --scope user\n"
            "mcp add --transport stdio --scope user zemra-norvo -- " +
                link + " mcp\n");
  // Only the three hooks, each running the link; only the tool hook has a matcher.
  json hook = {
      {"hooks", json::array({{{"type", "command"}, {"command", link + " hook"}, {"timeout", 5}}})}};
  json tools = hook;
  tools["matcher"] = "Bash|Task|Agent";
  EXPECT_EQ(readJson(h.settings()), (json{{"hooks",
                                           {{"SessionStart", json::array({hook})},
                                            {"UserPromptSubmit", json::array({hook})},
                                            {"PreToolUse", json::array({tools})}}}}));
  json server = {{"command", link}, {"args", {"mcp"}}};
  EXPECT_EQ(readJson(h.context.places.claudeDesktopConfig)["mcpServers"]["zemra-norvo"], server);
  EXPECT_EQ(readJson(h.context.places.geminiSettings)["mcpServers"]["zemra-norvo"], server);
  EXPECT_EQ(test::readFile(h.context.places.codexConfig),
            "[mcp_servers.zemra-norvo]\ncommand = \"" + link + "\"\nargs = [\"mcp\"]\n");

  auto s = status(h.context);
  EXPECT_TRUE(s.claudeCodeHooks && s.claudeDesktopMCP && s.codexMCP && s.geminiMCP);
  EXPECT_FALSE(s.cliLinked);  // the link leads nowhere on this machine
  EXPECT_EQ(s.claudeCLI, (h.home / ".local/bin/claude").string());

  // A second run changes no byte; nothing was there to back up the first time.
  auto connected = test::treeOf(h.home);
  EXPECT_EQ(connect(exe, h.context).messages, report.messages);
  EXPECT_EQ(test::treeOf(h.home), connected);

  // What disconnecting says, and that Claude Code forgets the server, is
  // checked with the real program (claude_code_e2e.sh); here what it leaves.
  EXPECT_TRUE(disconnect(h.context).complete);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(readJson(h.settings()), json::object());
  for (const auto& file : {h.context.places.claudeDesktopConfig, h.context.places.geminiSettings})
    EXPECT_EQ(readJson(file), (json{{"mcpServers", json::object()}})) << file;
  EXPECT_EQ(test::readFile(h.context.places.codexConfig), "");
}

TEST(Integration, KeepsOtherToolsEntriesAndBacksUpTheFirstVersionOnce) {
  Home h;
  const std::string original = R"x({"hooks":{"PreToolUse":[)x" + kOtherHook + R"x(],"Stop":[)x" +
                               kOtherHook +
                               R"x(]},"model":"opus","permissions":{"allow":["Bash(ls)"]}})x";
  h.dir.write("home/.claude/settings.json", original);
  ::chmod(h.settings().c_str(), 0640);

  connect("/usr/bin/zemnorvo", h.context);
  connect("/opt/zemnorvo", h.context);  // the program moved: still one entry each
  auto settings = readJson(h.settings());
  auto pre = settings["hooks"]["PreToolUse"];
  ASSERT_EQ(pre.size(), 2u);
  EXPECT_EQ(pre[0], json::parse(kOtherHook));
  EXPECT_EQ(settings["hooks"]["Stop"].size(), 1u);
  EXPECT_EQ(settings["model"], "opus");
  EXPECT_EQ(fs::status(h.settings()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto backup = h.settings().string() + ".bak-zemnorvo";
  EXPECT_EQ(test::readFile(backup), original);

  disconnect(h.context);
  EXPECT_EQ(readJson(h.settings()), json::parse(original));
  EXPECT_EQ(test::readFile(backup), original);
}

TEST(Integration, LeavesFilesItCannotReadAsTheyAre) {
  struct Case {
    const char* name;
    std::function<void(const Home&)> plant;
    const char* reason;
  };
  const Case cases[] = {
      {"not JSON", [](const Home& h) { h.dir.write("home/.claude/settings.json", "{\"a\":"); },
       "it is not valid JSON"},
      {"not an object", [](const Home& h) { h.dir.write("home/.claude/settings.json", "[1]"); },
       "its top level is not a JSON object"},
      {"too deep",
       [](const Home& h) {
         h.dir.write("home/.claude/settings.json",
                     "{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}");
       },
       "it nests deeper than 256 levels"},
      {"a folder", [](const Home& h) { fs::create_directories(h.settings()); }, "it is a folder"},
      {"a FIFO",
       [](const Home& h) {
         fs::create_directories(h.settings().parent_path());
         ::mkfifo(h.settings().c_str(), 0600);
       },
       "it is a named pipe (FIFO)"},
      {"a link to elsewhere",
       [](const Home& h) {
         auto target = h.dir.write("dotfiles/settings.json", "{\"model\":\"opus\"}");
         fs::create_directories(h.settings().parent_path());
         fs::create_symlink(target, h.settings());
       },
       "it is a symbolic link"},
      {"huge",
       [](const Home& h) {
         h.dir.write("home/.claude/settings.json", "{}");
         fs::resize_file(h.settings(), 17u << 20);  // sparse: costs no disk
       },
       "it is larger than 16 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Home h;
    c.plant(h);
    auto before = test::treeOf(h.dir.path());
    auto started = std::chrono::steady_clock::now();
    auto report = connect("/usr/bin/zemnorvo", h.context);
    auto disconnected = disconnect(h.context);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    // The step's message stays, and the next line says what really happened.
    auto added = std::find(report.messages.begin(), report.messages.end(),
                           "Claude Code: hooks added to " + h.settings().string());
    ASSERT_NE(added, report.messages.end());
    ASSERT_NE(added + 1, report.messages.end());
    EXPECT_EQ(*(added + 1), "Claude Code: hooks not added: " + h.settings().string() +
                                " left unchanged: " + c.reason);
    EXPECT_FALSE(report.complete);
    EXPECT_FALSE(disconnected.complete);
    // Nothing of the owner's changed and no backup appeared; only the link
    // (and its folder) came and went.
    auto after = test::treeOf(h.dir.path());
    std::erase_if(after,
                  [](const auto& entry) { return entry.first.rfind("home/.local", 0) == 0; });
    EXPECT_EQ(after, before);
  }
}

TEST(Integration, FindsClaudeThroughTheLoginShellOnlyAsAnAbsolutePath) {
  struct Case {
    const char* name;
    std::string shell;  // the script's body; $CLAUDE is the fake program
    bool found;
  };
  const Case cases[] = {
      {"on the profile's PATH", "[ \"$1 $2\" = '-lc command -v claude' ] && echo \"  $CLAUDE\"",
       true},
      {"an alias", "echo \"alias claude='$CLAUDE --fast'\"", false},
      {"a greeting first", "echo Welcome; echo \"$CLAUDE\"", false},
      {"not there", "exit 1", false},
      {"a path that is no program", "echo /nonexistent/claude", false},
      {"a profile that hangs", "sleep 30", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Home h;
    // Only the hanging profile ever waits out the limit; a short one proves
    // the same wait.
    if (c.shell == "sleep 30") h.context.shellTimeout = 300ms;
    fs::path claude = h.dir.path() / "elsewhere/claude";
    h.claude("exit 0", claude);
    h.dir.write("shell", "#!/bin/sh\nCLAUDE='" + claude.string() + "'\n" + c.shell + "\n");
    fs::permissions(h.dir.path() / "shell", fs::perms::owner_all);
    h.context.places.loginShell = (h.dir.path() / "shell").string();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(findClaude(h.context), c.found ? std::optional(claude.string()) : std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  }
}

TEST(Integration, ReportsAClaudeThatFailsHangsOrPrintsGarbage) {
  struct Case {
    const char* name;
    std::string body;
    std::string message;
  };
  const Case cases[] = {
      {"fails", "echo 'Error: invalid scope'; echo 'see help' >&2; exit 1",
       "Claude Code: mcp add failed: Error: invalid scope; see help"},
      {"silent failure", "exit 3", "Claude Code: mcp add failed: exit status 3"},
      {"garbage", "printf '\\377\\376bad\\n\\n'; exit 1",
       "Claude Code: mcp add failed: \uFFFD\uFFFDbad"},
      {"hangs", "exec sleep 60", "Claude Code: mcp add failed: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Home h;
    h.claude(c.body);
    // Only the hanging program ever waits out the limit (once for each call).
    if (c.body == "exec sleep 60") h.context.programTimeout = 300ms;
    auto started = std::chrono::steady_clock::now();
    auto report = connect("/usr/bin/zemnorvo", h.context);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_FALSE(report.complete);
    ASSERT_GE(report.messages.size(), 3u);
    EXPECT_EQ(report.messages[1].rfind(c.message, 0), 0u) << report.messages[1];
    EXPECT_EQ(report.messages[2], "Claude Code: hooks added to " + h.settings().string());
    EXPECT_TRUE(status(h.context).claudeCodeHooks);
  }
}

TEST(Integration, TheLinkIsLeftWhenRightAndNeverReplacesTheProgramItself) {
  Home h;
  h.dir.write("opt/zemnorvo", "#!/bin/sh\n");
  fs::permissions(h.dir.path() / "opt/zemnorvo", fs::perms::owner_all);
  const std::string exe = (h.dir.path() / "opt/zemnorvo").string();
  fs::path link = h.home / ".local/bin/zemnorvo";
  fs::create_directories(link.parent_path());
  fs::create_symlink(exe, link);
  struct stat before {};
  ::lstat(link.c_str(), &before);
  EXPECT_EQ(connect(exe, h.context).messages[0], "CLI: " + link.string() + " \u2192 " + exe);
  struct stat after {};
  ::lstat(link.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_TRUE(status(h.context).cliLinked);

  // Installed with the prefix ~/.local: the program itself is at the link's place.
  fs::remove(link);
  fs::copy_file(exe, link);
  connect(link.string(), h.context);
  disconnect(h.context);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(link)));
}

TEST(Integration, AHomeThatCannotBeWrittenIsReportedAndLosesNothing) {
  Home h;
  h.installAll();
  // Files where folders must go fail every write, even for root.
  h.dir.write("home/.local", "owner's file");
  h.dir.write("home/.claude", "owner's file");
  auto before = test::treeOf(h.home);
  auto report = connect("/usr/bin/zemnorvo", h.context);
  EXPECT_FALSE(report.complete);
  ASSERT_GE(report.messages.size(), 4u);
  EXPECT_EQ(report.messages[0].rfind(
                "CLI link failed: cannot create " + (h.home / ".local/bin").string() + ": ", 0),
            0u)
      << report.messages[0];
  EXPECT_EQ(report.messages[3].rfind(
                "Claude Code: hooks not added: cannot create " + (h.home / ".claude").string(), 0),
            0u)
      << report.messages[3];
  auto after = test::treeOf(h.home);
  EXPECT_EQ(after[".local"], before[".local"]);
  EXPECT_EQ(after[".claude"], before[".claude"]);

  // A folder without write permission (root writes anyway).
  if (::geteuid() == 0) return;
  h.dir.write("home/.gemini/settings.json", "{}");
  fs::permissions(h.home / ".gemini", fs::perms::owner_read | fs::perms::owner_exec);
  report = connect("/usr/bin/zemnorvo", h.context);
  fs::permissions(h.home / ".gemini", fs::perms::owner_all);
  EXPECT_EQ(report.messages.back(),
            "Gemini CLI: MCP server not added: cannot write " +
                (h.home / ".gemini/settings.json.bak-zemnorvo").string() + ": Permission denied; " +
                (h.home / ".gemini/settings.json").string() + " left unchanged");
  EXPECT_EQ(test::readFile(h.home / ".gemini/settings.json"), "{}");
}

TEST(Integration, StatusOfAnEmptyHome) {
  Home h;
  h.context.places.loginShell = "/bin/false";
  auto s = status(h.context);
  json fields = s;
  for (const auto& field : fields.items()) EXPECT_EQ(field.value(), false) << field.key();
  EXPECT_FALSE(s.claudeCLI);
  EXPECT_FALSE(s.connected());
  // Nothing installed: only the Claude Code files are made.
  connect("/usr/bin/zemnorvo", h.context);
  EXPECT_FALSE(fs::exists(h.home / ".config"));
  EXPECT_FALSE(fs::exists(h.home / ".codex"));
  EXPECT_FALSE(fs::exists(h.home / ".gemini"));
  // Claude Code's own user configuration is where it keeps the registration.
  h.dir.write("home/.claude.json", R"({"mcpServers":{"zemra-norvo":{"command":"x"}}})");
  EXPECT_TRUE(status(h.context).connected());
}

// What the owner reads of the Claude Code program's output, and how deep a
// settings file nests.
TEST(ConfigChanges, OutputBecomesOneBoundedLine) {
  EXPECT_EQ(oneLine("  first\r\n\n second  \n"), "first; second");
  // Cut at a character boundary, never inside one.
  auto cut = oneLine(std::string(9, 'a') + "ж", 10);
  EXPECT_EQ(cut, std::string(9, 'a') + "…");
}

TEST(ConfigChanges, NestingIsMeasuredOutsideStrings) {
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"[[[[[[","b":[{}]})", 3));
  EXPECT_TRUE(nestsDeeperThan(R"({"a":[[[1]]]})", 3));
  EXPECT_FALSE(nestsDeeperThan(R"({"a\"[[[[":[[1]]})", 3));
}

}  // namespace
}  // namespace norvo::Integration
