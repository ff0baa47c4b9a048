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

using test::zemnorvo;

TEST(UninstallCommands, AppsDryRunAndAnsweredSuggestion) {
  fs::path home = std::getenv("HOME");
  auto appImage = home / "Apps/Demo-2.1.AppImage";
  fs::create_directories(appImage.parent_path());
  std::ofstream(appImage) << "ELF";
  fs::create_directories(home / ".cache/demo");
  auto table = zemnorvo({"apps"}).out;
  EXPECT_NE(table.find("Demo"), std::string::npos) << table;

  auto dry = zemnorvo({"uninstall", "demo", "--dry-run", "--permanently"});
  EXPECT_EQ(dry.status, 0);
  const auto& preview = dry.out;
  EXPECT_NE(preview.find("would delete: " + appImage.string() + "\n"), std::string::npos)
      << preview;
  EXPECT_NE(preview.find("would delete: " + (home / ".cache/demo").string() + "\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(appImage));
  EXPECT_EQ(zemnorvo({"uninstall", "demo", "--leftovers", "/etc"}).status, 1);
  EXPECT_EQ(zemnorvo({"uninstall", "Nope"}).status, 1);

  auto s = UninstallSuggestion::make("unused for a year", "Demo", appImage.string());
  NorvoStore::addUninstall(s);
  EXPECT_EQ(zemnorvo({"answer", s.id, "quit"}).status, 1);  // not a quit suggestion
  auto answered = zemnorvo({"answer", s.id, "uninstall"});
  EXPECT_EQ(answered.status, 0);
  EXPECT_EQ(answered.out.rfind("accepted: Demo removed, ", 0), 0u) << answered.out;
  // What the answer removes and records is the uninstaller's own test.
  EXPECT_FALSE(fs::exists(appImage));
  EXPECT_EQ(zemnorvo({"answer", s.id, "keep"}).status, 1);  // answered once only
  // The tool logged to the store this process shares with other tests.
  fs::remove(NorvoStore::directory() / "actions.jsonl");
}

TEST(UninstallCommands, RefusedUnderAnAgent) {
  test::TempDir dir;
  auto s = UninstallSuggestion::make("x", "Demo", "/nonexistent/Demo.AppImage");
  NorvoStore::addUninstall(s);
  const std::string refused = " acts for the owner and is refused under an AI agent";
  for (const auto& [command, arguments, tool] :
       {std::tuple<std::string, std::string, std::string>{
            "zemnorvo uninstall", "uninstall Demo --permanently", "suggest_uninstall"},
        {"zemnorvo answer", "answer " + s.id + " uninstall", "suggestion_status"}}) {
    auto said = test::zemnorvoAsAgent(dir.path(), arguments);
    EXPECT_EQ(said.rfind(command + refused, 0), 0u) << said;
    EXPECT_NE(said.find("the " + tool + " tool"), std::string::npos) << said;
  }
  EXPECT_EQ(NorvoStore::uninstall(s.id)->status, "pending");
}

}  // namespace
}  // namespace norvo
