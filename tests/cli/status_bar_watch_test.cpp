// `zemnorvo status --format waybar --watch` as waybar runs it: one line per
// tick the loop publishes, read from status.json, never measured itself.
#include <gtest/gtest.h>

#include <csignal>

#include "cli/child_process.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

NorvoSnapshot tick(LoadLevel level, double usage, Date at) {
  NorvoSnapshot s;
  s.assessment.level = level;
  s.metrics.cpu.usage = usage;
  s.metrics.timestamp = at;
  return s;
}

TEST(StatusBarWatch, PrintsOneLinePerPublishedTick) {
  test::FreshHome home;
  auto now = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  ASSERT_TRUE(NorvoStore::saveStatus(tick(LoadLevel::busy, 0.25, now), home.store()));
  test::ChildProcess bar({test::cliPath(), "status", "--format", "waybar", "--watch"});
  auto first = bar.readLine(10s);
  ASSERT_TRUE(first) << bar.readErrors(1s);
  EXPECT_EQ(nlohmann::json::parse(*first).at("class"), "busy");

  // Another record written beside it is no tick; the next status is.
  ASSERT_TRUE(record_file::writeAtomically(home.store() / "other.json", "{}"));
  ASSERT_TRUE(NorvoStore::saveStatus(tick(LoadLevel::critical, 0.9, now + 5s), home.store()));
  auto second = bar.readLine(10s);
  ASSERT_TRUE(second);
  auto module = nlohmann::json::parse(*second);
  EXPECT_EQ(module.at("class"), "critical");
  EXPECT_EQ(module.at("percentage"), 90);
  bar.signal(SIGTERM);
  EXPECT_FALSE(bar.readLine(200ms)) << "printed a line no tick published";
  bar.wait(2s);

  auto alone = test::zemnorvo({"status", "--watch"});
  EXPECT_EQ(alone.status, 2) << alone.errors;
}

}  // namespace
}  // namespace norvo
