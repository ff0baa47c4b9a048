#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

NorvoSnapshot snapshotAged(seconds age) {
  NorvoSnapshot s;
  // Rounded up so that the whole-second date in the file is not older than asked.
  s.metrics.timestamp = ceil<seconds>(system_clock::now() - age);
  s.metrics.thermalState = "nominal";
  s.assessment.level = LoadLevel::busy;
  s.assessment.reasons = {"memory is tight"};
  s.assessment.reasonsRu = {"мало памяти"};
  return s;
}

TEST(NorvoStoreStatus, AgeRuleAtItsEdges) {
  Date now = sys_days{year{2026} / 5 / 1} + hours(12);
  struct Case {
    milliseconds age;
    double maxAge;
    bool fresh;
  };
  for (const Case& c : std::vector<Case>{{seconds(30), 30, true},
                                         {seconds(31), 30, false},
                                         {milliseconds(30001), 30, false},
                                         {seconds(0), 0, true},
                                         {seconds(-3600), 0, true},  // dated in the future
                                         {seconds(20), 20, true},
                                         {seconds(21), 20, false}}) {
    EXPECT_EQ(NorvoStore::statusIsFresh(now - c.age, c.maxAge, now), c.fresh)
        << c.age.count() << " ms old, max " << c.maxAge;
  }
}

TEST(NorvoStoreStatus, SavedSnapshotComesBackWhileFresh) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "new" / "store";
  NorvoSnapshot s = snapshotAged(seconds(5));
  NorvoStore::saveStatus(s, dir);
  auto back = NorvoStore::cachedStatus(30, dir);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(nlohmann::json(*back), nlohmann::json(s));
  EXPECT_FALSE(NorvoStore::cachedStatus(1, dir).has_value());

  NorvoStore::saveStatus(snapshotAged(seconds(40)), dir);
  EXPECT_FALSE(NorvoStore::cachedStatus(30, dir).has_value());
  EXPECT_TRUE(NorvoStore::cachedStatus(60, dir).has_value());
  NorvoStore::saveStatus(snapshotAged(-hours(2)), dir);
  EXPECT_TRUE(NorvoStore::cachedStatus(0, dir).has_value());
}

TEST(NorvoStoreStatus, UnreadableStatusIsAbsentAndUntouched) {
  test::TempDir tmp;
  std::string good = json_codec::encodeRecord(snapshotAged(seconds(1)));
  for (auto [name, content] : std::vector<std::pair<std::string, std::string>>{
           {"empty", ""},
           {"truncated", good.substr(0, good.size() - 5)},
           {"other record", R"({"name":"x","since":"2026-01-01T00:00:00Z"})"},
           {"array", "[]"},
           {"bad date",
            std::string(good).replace(good.find("\"timestamp\":\"") + 13, 4, "yyyy")}}) {
    fs::path dir = tmp.path() / name;
    tmp.write(dir / "status.json", content);
    EXPECT_FALSE(NorvoStore::cachedStatus(1e9, dir).has_value()) << name;
    EXPECT_EQ(test::readFile(dir / "status.json"), content) << name;
  }
  fs::create_directories(tmp.path() / "folder/status.json");
  EXPECT_FALSE(NorvoStore::cachedStatus(1e9, tmp.path() / "folder").has_value());
  fs::create_directories(tmp.path() / "fifo");
  ASSERT_EQ(::mkfifo((tmp.path() / "fifo/status.json").c_str(), 0600), 0);
  EXPECT_FALSE(NorvoStore::cachedStatus(1e9, tmp.path() / "fifo").has_value());
}

// A proc tree with one process named like the app, owned by whoever runs the
// test (appIsRunning compares with the calling user).
void writeProcess(const test::TempDir& tmp, const char* name, uint32_t uid) {
  tmp.write("proc/4242/comm", std::string(name) + "\n");
  tmp.write("proc/4242/status", "Name:\t" + std::string(name) + "\nUid:\t" + std::to_string(uid) +
                                    "\t" + std::to_string(uid) + "\t0\t0\n");
}

TEST(NorvoStoreStatus, AppIsRunningByRecentStatusOrByProcessName) {
  struct Case {
    const char* why;
    std::optional<seconds> statusAge;  // absent: no status file
    const char* processName;           // nullptr: no such process
    bool otherUser;
    bool running;
  };
  for (const Case& c : std::vector<Case>{
           {"20-second-old status, no process", seconds(19), nullptr, false, true},
           {"stale status, no process", seconds(60), nullptr, false, false},
           {"stale status, app process", seconds(60), "Zemra Norvo", false, true},
           {"no status, app process", std::nullopt, "Zemra Norvo", false, true},
           {"no status, another user's app", std::nullopt, "Zemra Norvo", true, false},
           {"no status, near name", std::nullopt, "Zemra Norv", false, false},
       }) {
    test::TempDir tmp;
    platform::Roots roots = platform::Roots::under(tmp.path());
    fs::create_directories(roots.proc);
    if (c.statusAge) NorvoStore::saveStatus(snapshotAged(*c.statusAge), roots.store);
    if (c.processName) writeProcess(tmp, c.processName, ::getuid() + (c.otherUser ? 1 : 0));
    EXPECT_EQ(NorvoStore::appIsRunning(roots), c.running) << c.why;
  }
  // A corrupt status falls through to the process list.
  test::TempDir tmp;
  platform::Roots roots = platform::Roots::under(tmp.path());
  tmp.write("store/status.json", "{");
  writeProcess(tmp, "Zemra Norvo", ::getuid());
  EXPECT_TRUE(NorvoStore::appIsRunning(roots));
}

TEST(NorvoStoreStatus, ProcessNamedAsTheAppCountsAsRunning) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char ok = NorvoStore::nameThisProcessAsApp() ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');
  EXPECT_EQ(test::readFile("/proc/" + std::to_string(child) + "/comm"), "Zemra Norvo\n");
  test::TempDir tmp;
  platform::Roots roots;
  roots.store = tmp.path();  // no status: only the process can say so
  EXPECT_TRUE(NorvoStore::appIsRunning(roots));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace norvo
