// The measuring loop as a user runs it: the built binary, its own home and
// data folder, real signals.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "cli/child_process.hpp"
#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"
#include "core/store/widget_snapshot.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Points HOME and XDG_DATA_HOME of the children this test starts at a fresh folder.
class WatchHome {
 public:
  WatchHome() : home_(dir_.path().string()), data_((dir_.path() / "data").string()) {
    save("HOME", oldHome_);
    save("XDG_DATA_HOME", oldData_);
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("XDG_DATA_HOME", data_.c_str(), 1);
  }
  ~WatchHome() {
    restore("HOME", oldHome_);
    restore("XDG_DATA_HOME", oldData_);
  }
  fs::path status() const {
    return NorvoStore::directoryFor(data_.c_str(), home_.c_str()) / "status.json";
  }
  fs::path widget() const {
    return WidgetSnapshot::containerFor(data_.c_str(), home_.c_str()) / "widget.json";
  }

 private:
  static void save(const char* name, std::optional<std::string>& into) {
    if (const char* v = std::getenv(name)) into = v;
  }
  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  test::TempDir dir_;
  std::string home_, data_;
  std::optional<std::string> oldHome_, oldData_;
};

std::optional<Date> statusTime(const fs::path& file) {
  auto snapshot = record_file::read<NorvoSnapshot>(file);
  if (!snapshot) return std::nullopt;
  return snapshot->metrics.timestamp;
}

// Polls until the status file holds a snapshot dated after `after`.
std::optional<Date> waitForStatusAfter(const fs::path& file, Date after,
                                       std::chrono::seconds timeout) {
  auto until = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < until) {
    if (auto t = statusTime(file); t && *t > after) return t;
    std::this_thread::sleep_for(50ms);
  }
  return std::nullopt;
}

bool exitedWith(std::optional<int> status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

TEST(WatchCommand, OnceWritesTheStatusAndTheWidgetRecord) {
  WatchHome home;
  test::ChildProcess watch({NORVO_CLI_PATH, "watch", "--once"});
  EXPECT_TRUE(exitedWith(watch.wait(60s), 0)) << watch.readErrors(100ms);
  auto snapshot = record_file::read<NorvoSnapshot>(home.status());
  ASSERT_TRUE(snapshot.has_value());
  EXPECT_GT(snapshot->metrics.timestamp, Date{});
  EXPECT_TRUE(record_file::read<WidgetSnapshot>(home.widget()).has_value());
}

TEST(WatchCommand, KeepsTheStatusFreshAndRefusesASecondInstance) {
  WatchHome home;
  test::ChildProcess watch({NORVO_CLI_PATH, "watch", "--interval", "1"});
  auto first = waitForStatusAfter(home.status(), Date{}, 30s);
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(waitForStatusAfter(home.status(), *first, 10s).has_value())
      << "status.json was not rewritten by a later tick";

  test::ChildProcess second({NORVO_CLI_PATH, "watch", "--once"});
  auto status = second.wait(10s);
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_NE(WEXITSTATUS(*status), 0);
  EXPECT_NE(second.readErrors(1s).find("zemnorvo watch is already running for this user"),
            std::string::npos);

  watch.signal(SIGTERM);
  EXPECT_TRUE(exitedWith(watch.wait(2s), 0));
}

TEST(WatchCommand, EndsCleanlyOnInterruptAndTerminateMidSleep) {
  for (int sig : {SIGINT, SIGTERM}) {
    WatchHome home;
    test::ChildProcess watch({NORVO_CLI_PATH, "watch", "--interval", "3600"});
    // Once the first record is there, the loop sleeps for an hour.
    ASSERT_TRUE(waitForStatusAfter(home.status(), Date{}, 30s).has_value()) << sig;
    watch.signal(sig);
    EXPECT_TRUE(exitedWith(watch.wait(2s), 0)) << "signal " << sig;
  }
}

}  // namespace
}  // namespace norvo
