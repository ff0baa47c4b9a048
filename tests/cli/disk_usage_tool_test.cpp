// disk_usage through the real `zemnorvo mcp`, answered by a loop and without.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

class Server {
 public:
  Server() : child_({NORVO_CLI_PATH, "mcp"}) {
    call("initialize", {{"protocolVersion", "2025-11-25"},
                        {"capabilities", json::object()},
                        {"clientInfo", {{"name", "test"}, {"version", "1"}}}});
    child_.write("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n");
  }
  ~Server() {
    child_.closeStdin();
    child_.wait(10s);
  }
  // The tool's result; progress notifications on the way are counted.
  json tool(const json& arguments, int& notes) {
    json request = {
        {"jsonrpc", "2.0"},
        {"id", ++id_},
        {"method", "tools/call"},
        {"params",
         {{"name", "disk_usage"}, {"arguments", arguments}, {"_meta", {{"progressToken", "p"}}}}}};
    child_.write(request.dump() + "\n");
    for (;;) {
      auto line = child_.readLine(60s);
      if (!line) return json();
      auto j = json::parse(*line, nullptr, false);
      if (j.value("method", "") == "notifications/progress") {
        ++notes;
        continue;
      }
      return j["result"];
    }
  }

 private:
  json call(const std::string& method, const json& params) {
    child_.write(
        json{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}.dump() +
        "\n");
    return child_.readLine(20s).value_or("");
  }
  test::ChildProcess child_;
  int id_ = 0;
};

fs::path project() {
  fs::path p = fs::path(std::getenv("HOME")) / "disk-tool-project";
  fs::create_directories(p / "big");
  int fd = ::open((p / "big/blob").c_str(), O_CREAT | O_WRONLY, 0644);
  EXPECT_EQ(::posix_fallocate(fd, 0, 210 << 20), 0);
  ::close(fd);
  return p;
}

// The server gets a store of its own, so that this test leaves the run's
// shared store as it found it.
struct OwnStore {
  test::TempDir dir;
  std::string previous = std::getenv("XDG_DATA_HOME");
  OwnStore() { ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1); }
  ~OwnStore() { ::setenv("XDG_DATA_HOME", previous.c_str(), 1); }
  fs::path store() const { return dir.path() / "ZemraNorvo"; }
};

TEST(DiskUsageTool, AnsweredByTheLoopAndWithoutIt) {
  auto folder = project();
  OwnStore own;
  Server server;
  int notes = 0;

  // The loop is alive (its status is fresh) and answers the filed request.
  NorvoSnapshot alive;
  alive.metrics.timestamp = std::chrono::system_clock::now();
  NorvoStore::saveStatus(alive, own.store());
  std::atomic<bool> stop{false};
  std::thread loop([&] {
    DiskUsage::ScanSetup setup{DiskUsage::Places::standard(std::getenv("HOME")), {}, std::nullopt};
    DiskUsage::Progress progress;
    std::this_thread::sleep_for(1500ms);  // long enough for a progress note
    while (!stop && DiskUsage::servePending(own.store(), setup, progress) == 0)
      std::this_thread::sleep_for(100ms);
  });
  auto answered = server.tool({{"folder", folder.string()}, {"depth", 1}}, notes);
  stop = true;
  loop.join();
  ASSERT_EQ(answered["isError"], false) << answered;
  auto digest = answered["structuredContent"];
  EXPECT_EQ(digest["scanned"]["path"], folder.string());
  EXPECT_EQ(digest["largest_files"][0]["path"], (folder / "big/blob").string());
  EXPECT_GE(notes, 1);

  // No loop: the server measures by itself.
  fs::remove(own.store() / "status.json");
  auto self = server.tool({{"folder", folder.string()}}, notes);
  ASSERT_EQ(self["isError"], false) << self;
  EXPECT_EQ(self["structuredContent"]["complete"], true);

  // Outside the home folder: the lock, never the contents.
  auto refused = server.tool({{"folder", "/etc"}}, notes);
  ASSERT_EQ(refused["isError"], false) << refused;
  EXPECT_EQ(refused["structuredContent"]["scanned"]["not_counted"], "macOS asks the owner first");
  EXPECT_FALSE(refused["structuredContent"]["scanned"].contains("children"));
  EXPECT_EQ(server.tool({{"folder", "relative"}}, notes)["isError"], true);
}

}  // namespace
}  // namespace norvo
