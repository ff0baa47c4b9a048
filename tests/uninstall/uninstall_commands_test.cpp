// The owner's uninstall commands of the command-line tool, run as the owner
// runs them and as an AI agent would, which they refuse.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "core/store/norvo_store.hpp"
#include "core/uninstall/uninstall.hpp"
#include "real_processes.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;

std::pair<int, std::string> zemnorvo(const std::vector<std::string>& arguments) {
  return test::run(NORVO_CLI_PATH, arguments);
}

TEST(UninstallCommands, AppsDryRunAndAnsweredSuggestion) {
  auto [listed, none] = zemnorvo({"apps"});
  EXPECT_EQ(listed, 0);
  EXPECT_EQ(none.rfind("No apps installed in your own folders", 0), 0u) << none;

  fs::path home = std::getenv("HOME");
  auto appImage = home / "Apps/Demo-2.1.AppImage";
  fs::create_directories(appImage.parent_path());
  std::ofstream(appImage) << "ELF";
  fs::create_directories(home / ".cache/demo");
  auto [shown, table] = zemnorvo({"apps"});
  EXPECT_NE(table.find("Demo"), std::string::npos) << table;

  auto [dry, preview] = zemnorvo({"uninstall", "demo", "--dry-run", "--permanently"});
  EXPECT_EQ(dry, 0);
  EXPECT_NE(preview.find("would delete: " + appImage.string() + "\n"), std::string::npos)
      << preview;
  EXPECT_NE(preview.find("would delete: " + (home / ".cache/demo").string() + "\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(appImage));
  EXPECT_EQ(zemnorvo({"uninstall", "demo", "--leftovers", "/etc"}).first, 1);
  EXPECT_EQ(zemnorvo({"uninstall", "Nope"}).first, 1);

  auto s = UninstallSuggestion::make("unused for a year", "Demo", appImage.string());
  NorvoStore::addUninstall(s);
  EXPECT_EQ(zemnorvo({"answer", s.id, "quit"}).first, 1);  // not a quit suggestion
  auto [answered, said] = zemnorvo({"answer", s.id, "uninstall"});
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(said.rfind("accepted: Demo removed, ", 0), 0u) << said;
  EXPECT_FALSE(fs::exists(appImage));
  EXPECT_FALSE(fs::exists(home / ".cache/demo"));
  EXPECT_EQ(NorvoStore::uninstall(s.id)->status, "accepted");
  EXPECT_EQ(zemnorvo({"answer", s.id, "keep"}).first, 1);  // answered once only
  // The tool logged to the store this process shares with other tests.
  fs::remove(NorvoStore::directory() / "actions.jsonl");
}

TEST(UninstallCommands, RefusedUnderAnAgent) {
  test::TempDir dir;
  auto agent = test::copyProgram("/bin/sh", dir.path() / "claude");
  auto s = UninstallSuggestion::make("x", "Demo", "/nonexistent/Demo.AppImage");
  NorvoStore::addUninstall(s);
  // "; true" keeps the shell, and so the agent, among the tool's ancestors.
  auto asAgent = [&](const std::string& arguments) {
    return test::run(agent, {"-c", "'" NORVO_CLI_PATH "' " + arguments + " 2>&1; true"}).second;
  };
  const std::string refused = " acts for the owner and is refused under an AI agent";
  auto uninstall = asAgent("uninstall Demo --permanently");
  EXPECT_EQ(uninstall.rfind("zemnorvo uninstall" + refused, 0), 0u) << uninstall;
  EXPECT_NE(uninstall.find("the suggest_uninstall tool"), std::string::npos) << uninstall;
  auto answer = asAgent("answer " + s.id + " uninstall");
  EXPECT_EQ(answer.rfind("zemnorvo answer" + refused, 0), 0u) << answer;
  EXPECT_NE(answer.find("the suggestion_status tool"), std::string::npos) << answer;
  EXPECT_EQ(NorvoStore::uninstall(s.id)->status, "pending");
}

}  // namespace
}  // namespace norvo
