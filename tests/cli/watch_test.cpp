// The measuring loop as a user runs it: the built binary, its own home and
// data folder, real signals; and what the command line says when it cannot
// write where it was told to. A status bar following the loop
// (`status --format waybar --watch`) only shows what it reads, each module as
// StatusBar's test checks it, so it has no test of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "cli/child_process.hpp"
#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/record_file.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

// Polls until the status file holds a snapshot dated after `after`.
std::optional<Date> waitForStatusAfter(const test::FreshHome& home, Date after,
                                       std::chrono::seconds timeout) {
  std::optional<Date> dated;
  test::waitFor(
      [&] {
        auto snapshot = record_file::read<NorvoSnapshot>(home.store() / "status.json");
        if (snapshot) dated = snapshot->metrics.timestamp;
        return dated > after;
      },
      timeout);
  return dated > after ? dated : std::nullopt;
}

TEST(WatchCommand, KeepsTheStatusFreshRefusesASecondInstanceAndEndsOnSignals) {
  test::FreshHome home;
  test::ChildProcess watch({test::cliPath(), "watch", "--interval", "1"});
  auto first = waitForStatusAfter(home, Date{}, 30s);
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(waitForStatusAfter(home, *first, 10s).has_value())
      << "status.json was not rewritten by a later tick";

  auto second = test::zemnorvo({"watch", "--once"});
  EXPECT_TRUE(second.status && *second.status != 0);
  EXPECT_THAT(second.errors, HasSubstr("zemnorvo watch is already running for this user"));
  watch.signal(SIGTERM);
  EXPECT_EQ(watch.wait(2s), 0);

  // Once its first record is there, the loop sleeps for an hour.
  auto last = waitForStatusAfter(home, Date{}, 0s);
  test::ChildProcess sleeper({test::cliPath(), "watch", "--interval", "3600"});
  ASSERT_TRUE(waitForStatusAfter(home, *last, 30s).has_value());
  sleeper.signal(SIGINT);
  EXPECT_EQ(sleeper.wait(2s), 0);
}

TEST(HonestErrors, AnUnwritableDataFolderIsNamedWithItsReason) {
  // A missing folder for --out is PrometheusScrape's, through the same atomic write.
  test::TempDir dir;
  auto file = dir.write("data", "");
  auto watch = test::run(
      {"/usr/bin/env", "XDG_DATA_HOME=" + file.string(), test::cliPath(), "watch", "--once"});
  EXPECT_EQ(watch.status, 1);
  EXPECT_THAT(watch.errors, HasSubstr("cannot create " + (file / "ZemraNorvo").string()));
  EXPECT_THAT(watch.errors, HasSubstr("Not a directory"));
}

}  // namespace
}  // namespace norvo
