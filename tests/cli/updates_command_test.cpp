#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "cli/child_process.hpp"
#include "core/updates/app_updates.hpp"

namespace norvo {
namespace {

// A feed nobody answers (port 1 on loopback refuses at once) stands for a
// network that is down: three attempts with the 3 s and 6 s waits, then the
// report names the product as failed instead of hanging or failing whole.
TEST(UpdatesCommand, ReportsAnUnreachableFeedAsFailed) {
  test::FreshHome home;
  test::ScopedEnv feed(std::string(SelfUpdate::feedVariable), "https://127.0.0.1:1");
  auto started = std::chrono::steady_clock::now();
  auto ran = test::zemnorvo({"updates", "--json"});
  ASSERT_EQ(ran.status, 0) << ran.errors;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40));
  auto report = json_codec::decodeAs<AppUpdates::Report>(ran.out);
  ASSERT_TRUE(report) << ran.out;
  EXPECT_THAT(report->failed, testing::Contains("Zemra Norvo"));
  EXPECT_THAT(ran.errors, testing::HasSubstr("checking for updates"));
}

}  // namespace
}  // namespace norvo
