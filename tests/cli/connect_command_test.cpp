// `zemnorvo connect`, `connect --status` and `disconnect` as the owner (or an
// agent asked to set it up) runs them, in a home of their own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "child_process.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;

// Keeps the children's XDG configuration folder and Codex's inside the fresh
// home, so no test looks at the developer's own Claude Desktop or Codex.
struct ConfigInside {
  explicit ConfigInside(const fs::path& home) : config("XDG_CONFIG_HOME", home / ".config") {}
  test::ScopedEnv config, codex{"CODEX_HOME", std::nullopt};
};

nlohmann::json statusOf() {
  auto ran = test::zemnorvo({"connect", "--status", "--json"});
  EXPECT_EQ(ran.status, 0) << ran.errors;
  return nlohmann::json::parse(ran.out, nullptr, false);
}

TEST(ConnectCommand, ConnectsOnceLinksItselfAndDisconnects) {
  test::FreshHome home;
  ConfigInside config(home.home());
  fs::create_directories(home.home() / ".gemini");
  auto settings = home.home() / ".claude/settings.json";
  auto gemini = home.home() / ".gemini/settings.json";
  auto link = home.home() / ".local/bin/zemnorvo";

  auto first = test::zemnorvo({"connect"});
  EXPECT_EQ(first.status, 0) << first.out << first.errors;
  EXPECT_NE(first.out.find("Claude Code: hooks added to " + settings.string() + "\n"),
            std::string::npos)
      << first.out;
  EXPECT_EQ(fs::read_symlink(link).string(), fs::canonical(test::cliPath()).string());
  auto hooks = test::readFile(settings), servers = test::readFile(gemini);
  auto second = test::zemnorvo({"connect"});
  EXPECT_EQ(second.out, first.out);
  EXPECT_EQ(test::readFile(settings), hooks);
  EXPECT_EQ(test::readFile(gemini), servers);
  auto status = statusOf();
  EXPECT_EQ(status["cliLinked"], true);
  EXPECT_EQ(status["claudeCodeHooks"], true);
  EXPECT_EQ(status["geminiMCP"], true);

  auto gone = test::zemnorvo({"disconnect"});
  EXPECT_EQ(gone.status, 0) << gone.out << gone.errors;
  status = statusOf();
  EXPECT_EQ(status["cliLinked"], false);
  EXPECT_EQ(status["claudeCodeHooks"], false);
  EXPECT_EQ(status["connected"], false);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(ConnectCommand, RefusesABadExecutableAndMisusedFlags) {
  test::FreshHome home;
  ConfigInside config(home.home());
  auto ran = test::zemnorvo({"connect", "--executable", home.home().string()});
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.errors.find("is not an executable file"), std::string::npos) << ran.errors;
  EXPECT_EQ(test::zemnorvo({"connect", "--json"}).status, 2);
  EXPECT_FALSE(fs::exists(home.home() / ".claude"));
}

}  // namespace
}  // namespace norvo
