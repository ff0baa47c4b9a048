// disk_usage through the real `zemnorvo mcp`, answered by a loop and without.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "child_process.hpp"
#include "core/disk/scan_service.hpp"
#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(DiskUsageTool, AnsweredByTheLoopAndWithoutIt) {
  // A home and store of the test's own, for the server and for this process.
  test::FreshHome own;
  // What a scan finds in a folder is DiskDigest's; here who answers.
  auto folder = fs::path(std::getenv("HOME")) / "disk-tool-project";
  fs::create_directories(folder);
  test::AgentServer server;
  // Asked without a progress token: the notes on the way only show how far it
  // got, and the engine's progress is driven end to end (zemnorvo_mcp_e2e.mjs).
  auto diskUsage = [&](const json& arguments) { return server.tool("disk_usage", arguments); };

  // The loop is alive (its status is fresh) and answers the filed request.
  NorvoSnapshot alive;
  alive.metrics.timestamp = std::chrono::system_clock::now();
  NorvoStore::saveStatus(alive, own.store());
  std::atomic<bool> stop{false};
  std::thread loop([&] {
    DiskUsage::ScanSetup setup{DiskUsage::Places::standard(std::getenv("HOME")), {}, std::nullopt};
    DiskUsage::Progress progress;
    while (!stop && DiskUsage::servePending(own.store(), setup, progress) == 0)
      std::this_thread::sleep_for(100ms);
  });
  auto answered = diskUsage({{"folder", folder.string()}, {"depth", 1}});
  stop = true;
  loop.join();
  ASSERT_EQ(answered["isError"], false) << answered;
  auto digest = answered["structuredContent"];
  EXPECT_EQ(digest["scanned"]["path"], folder.string());

  // No loop: the server measures by itself.
  fs::remove(own.store() / "status.json");
  auto self = diskUsage({{"folder", folder.string()}});
  ASSERT_EQ(self["isError"], false) << self;
  EXPECT_EQ(self["structuredContent"]["complete"], true);

  // Outside the home folder: the lock, never the contents.
  auto refused = diskUsage({{"folder", "/etc"}});
  ASSERT_EQ(refused["isError"], false) << refused;
  EXPECT_EQ(refused["structuredContent"]["scanned"]["not_counted"], "the owner allows it first");
  EXPECT_FALSE(refused["structuredContent"]["scanned"].contains("children"));
  EXPECT_EQ(diskUsage({{"folder", "relative"}})["isError"], true);
}

}  // namespace
}  // namespace norvo
