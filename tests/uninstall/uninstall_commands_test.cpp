// The owner's uninstall commands of the command-line tool, run as the owner
// runs them; how they refuse under an AI agent is with the cleanup commands'.
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

TEST(UninstallCommands, DryRunAndAnsweredSuggestion) {
  fs::path home = std::getenv("HOME");
  auto appImage = home / "Apps/Demo-2.1.AppImage";
  fs::create_directories(appImage.parent_path());
  std::ofstream(appImage) << "ELF";
  auto dry = zemnorvo({"uninstall", "demo", "--dry-run", "--permanently"});
  EXPECT_EQ(dry.status, 0);
  EXPECT_NE(dry.out.find("would delete: " + appImage.string() + "\n"), std::string::npos)
      << dry.out;
  EXPECT_TRUE(fs::exists(appImage));
  EXPECT_EQ(zemnorvo({"uninstall", "demo", "--leftovers", "/etc"}).status, 1);
  EXPECT_EQ(zemnorvo({"uninstall", "Nope"}).status, 1);

  auto s = UninstallSuggestion::make("unused for a year", "Demo", appImage.string());
  NorvoStore::addUninstall(s);
  EXPECT_EQ(zemnorvo({"answer", s.id, "quit"}).status, 1);  // not a quit suggestion
  auto answered = zemnorvo({"answer", s.id, "uninstall"});
  EXPECT_EQ(answered.status, 0);
  // What the answer removes and records is the uninstaller's own test.
  EXPECT_FALSE(fs::exists(appImage));
  EXPECT_EQ(zemnorvo({"answer", s.id, "keep"}).status, 1);  // answered once only
  // The tool logged to the store this process shares with other tests.
  fs::remove(NorvoStore::directory() / "actions.jsonl");
}

}  // namespace
}  // namespace norvo
