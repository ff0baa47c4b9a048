// Connecting and disconnecting on fixture homes: a fake `claude`, the owner's files with other
// tools' entries, and files this side must not touch.
#include "core/integration/integration.hpp"

#include <gmock/gmock.h>
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
  // `claude` as a shell script running `body`.
  void claude(const std::string& body, const fs::path& where = {}) const {
    fs::path path = where.empty() ? home / ".local/bin/claude" : where;
    dir.write(fs::relative(path, dir.path()), "#!/bin/sh\n" + body + "\n");
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
  const std::string link = (h.home / ".local/bin/zemnorvo").string();
  // What connecting says, the link, the registration with Claude Code and
  // what disconnecting undoes of them are checked with the real program
  // (claude_code_e2e.sh); here the files of every tool.
  EXPECT_TRUE(connect("/opt/zemnorvo/bin/zemnorvo", h.context).complete);
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

  // A second run changes no byte; nothing was there to back up the first time.
  auto connected = test::treeOf(h.home);
  connect("/opt/zemnorvo/bin/zemnorvo", h.context);
  EXPECT_EQ(test::treeOf(h.home), connected);

  EXPECT_TRUE(disconnect(h.context).complete);
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
  auto text = [](const std::string& text) {
    return [text](const Home& h) { h.dir.write("home/.claude/settings.json", text); };
  };
  const std::string deep = "{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}";
  const Case cases[] = {
      {"not JSON", text("{\"a\":"), "it is not valid JSON"},
      {"not an object", text("[1]"), "its top level is not a JSON object"},
      {"too deep", text(deep), "it nests deeper than 256 levels"},
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
    auto refusal =
        "Claude Code: hooks not added: " + h.settings().string() + " left unchanged: " + c.reason;
    EXPECT_NE(std::find(report.messages.begin(), report.messages.end(), refusal),
              report.messages.end());
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
    ASSERT_GE(report.messages.size(), 2u);
    EXPECT_EQ(report.messages[1].rfind(c.message, 0), 0u) << report.messages[1];
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
  connect(exe, h.context);
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
  EXPECT_THAT(report.messages[3],
              testing::StartsWith("Claude Code: hooks not added: cannot create " +
                                  (h.home / ".claude").string()));
  auto after = test::treeOf(h.home);
  EXPECT_EQ(after[".local"], before[".local"]);
  EXPECT_EQ(after[".claude"], before[".claude"]);
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
  for (const char* folder : {".config", ".codex", ".gemini"})
    EXPECT_FALSE(fs::exists(h.home / folder)) << folder;
  // A registration Claude Code made itself is read by claude_code_e2e.sh.
}

// How deep a settings file nests, brackets inside strings not counted.
TEST(ConfigChanges, NestingIsMeasuredOutsideStrings) {
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"[[[[[[","b":[{}]})", 3));
  EXPECT_TRUE(nestsDeeperThan(R"({"a":[[[1]]]})", 3));
  EXPECT_FALSE(nestsDeeperThan(R"({"a\"[[[[":[[1]]})", 3));
}

}  // namespace
}  // namespace norvo::Integration
