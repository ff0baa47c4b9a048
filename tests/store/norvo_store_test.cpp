#include "core/store/norvo_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "core/platform/record_file.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using NorvoStore::Action;

Date at(int seconds) { return Date(sys_days{year{2026} / 5 / 1}) + std::chrono::seconds(seconds); }

Action action(int n, std::string detail = "") {
  return Action{at(n), "ai", "kill", 100 + n, "proc" + std::to_string(n), std::move(detail)};
}

std::vector<int32_t> pids(const std::vector<Action>& actions) {
  std::vector<int32_t> out;
  for (const auto& a : actions) out.push_back(a.pid);
  return out;
}

void append(const fs::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << text;
}

TEST(NorvoStoreLog, FirstLogCreatesStoreAndOneTerminatedLine) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "fresh" / "ZemraNorvo";
  NorvoStore::log(action(1, "stopped runaway build"), dir);
  std::string text = test::readFile(dir / "actions.jsonl");
  EXPECT_EQ(text, R"({"actor":"ai","date":"2026-05-01T00:00:01Z","detail":"stopped runaway build",)"
                  R"("kind":"kill","name":"proc1","pid":101})"
                  "\n");
}

TEST(NorvoStoreLog, RecentActionsTakesTheTailNewestFirst) {
  test::TempDir tmp;
  for (int i = 1; i <= 3; ++i) NorvoStore::log(action(i), tmp.path());
  struct Case {
    int64_t limit;
    std::vector<int32_t> expected;
  };
  for (const Case& c : std::vector<Case>{{0, {}},
                                         {-4, {}},
                                         {1, {103}},
                                         {2, {103, 102}},
                                         {3, {103, 102, 101}},
                                         {5, {103, 102, 101}}}) {
    EXPECT_EQ(pids(NorvoStore::recentActions(c.limit, tmp.path())), c.expected)
        << "limit " << c.limit;
  }
  EXPECT_EQ(NorvoStore::recentActions(1, tmp.path()).front(), action(3));
}

TEST(NorvoStoreLog, BadLinesAreSkippedButCountTowardsTheLimit) {
  test::TempDir tmp;
  fs::path log = tmp.path() / "actions.jsonl";
  NorvoStore::log(action(1), tmp.path());
  append(log, "\n\n{\"actor\":\"ai\"}\n");  // empty pieces, then a record of another shape
  NorvoStore::log(action(2), tmp.path());
  append(log, "not json at all\n");
  append(log,
         "{\"actor\":\"ai\",\"date\":\"2026-05-01T00:00:09Z\",\"detail\":\"\xff\xfe\","
         "\"kind\":\"k\",\"name\":\"n\",\"pid\":9}\n");  // not UTF-8
  append(log,
         "{\"actor\":\"ai\",\"date\":\"2026-05-01T00:00:09Z\",\"detail\":\"\","
         "\"kind\":\"k\",\"name\":\"n\",\"pid\":4294967296}\n");  // pid beyond 32 bits
  NorvoStore::log(action(3), tmp.path());
  append(log, R"({"actor":"ai","date":"2026-05-01T00:00:09Z","deta)");  // torn last line

  std::string before = test::readFile(log);
  // The torn line is the newest piece: limit 1 finds nothing, limit 2 one entry.
  EXPECT_EQ(pids(NorvoStore::recentActions(1, tmp.path())), std::vector<int32_t>{});
  EXPECT_EQ(pids(NorvoStore::recentActions(2, tmp.path())), std::vector<int32_t>{103});
  EXPECT_EQ(pids(NorvoStore::recentActions(100, tmp.path())),
            (std::vector<int32_t>{103, 102, 101}));
  EXPECT_EQ(test::readFile(log), before) << "reading must never rewrite the log";
}

TEST(NorvoStoreLog, AppendAfterATornTailStartsOnAFreshLine) {
  test::TempDir tmp;
  fs::path log = tmp.path() / "actions.jsonl";
  NorvoStore::log(action(1), tmp.path());
  append(log, R"({"actor":"ai","da)");
  NorvoStore::log(action(2), tmp.path());
  EXPECT_EQ(pids(NorvoStore::recentActions(10, tmp.path())), (std::vector<int32_t>{102, 101}));
}

TEST(NorvoStoreLog, MissingEmptyAndWrongTypeLogsGiveEmptyLists) {
  test::TempDir tmp;
  EXPECT_TRUE(NorvoStore::recentActions(5, tmp.path() / "nowhere").empty());
  tmp.write("empty/actions.jsonl", "");
  EXPECT_TRUE(NorvoStore::recentActions(5, tmp.path() / "empty").empty());
  tmp.write("blank/actions.jsonl", "\n\n\n");
  EXPECT_TRUE(NorvoStore::recentActions(5, tmp.path() / "blank").empty());

  // A folder in place of the log: nothing read, nothing written, nothing thrown.
  fs::create_directories(tmp.path() / "folder/actions.jsonl");
  NorvoStore::log(action(1), tmp.path() / "folder");
  EXPECT_TRUE(NorvoStore::recentActions(5, tmp.path() / "folder").empty());
  EXPECT_TRUE(fs::is_directory(tmp.path() / "folder/actions.jsonl"));

  // A FIFO must block neither a reader nor a writer.
  fs::create_directories(tmp.path() / "fifo");
  ASSERT_EQ(::mkfifo((tmp.path() / "fifo/actions.jsonl").c_str(), 0600), 0);
  NorvoStore::log(action(1), tmp.path() / "fifo");
  EXPECT_TRUE(NorvoStore::recentActions(5, tmp.path() / "fifo").empty());
}

TEST(NorvoStoreLog, LogNeverWritesThroughALink) {
  test::TempDir tmp;
  fs::path outside = tmp.write("outside.txt", "keep\n");
  fs::create_directories(tmp.path() / "store");
  fs::create_symlink(outside, tmp.path() / "store/actions.jsonl");
  NorvoStore::log(action(1), tmp.path() / "store");
  EXPECT_EQ(test::readFile(outside), "keep\n");
}

TEST(NorvoStoreLog, LongActionsAreCutToOneWholeLine) {
  // Multi-byte text and characters that need escaping, so that a cut in the
  // wrong place would break a character or the JSON.
  std::string detail;
  for (int i = 0; i < 5000; ++i) detail += "жй\"\\\n";
  Action big = action(7, detail);
  big.name = std::string(30000, 'n');

  std::string line = NorvoStore::logLine(big);
  ASSERT_LE(line.size(), NorvoStore::maxLogLineBytes);
  EXPECT_GT(line.size(), NorvoStore::maxLogLineBytes - 16) << "cut far more than needed";
  ASSERT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  auto back = json_codec::decodeAs<Action>(std::string_view(line).substr(0, line.size() - 1));
  ASSERT_TRUE(back.has_value()) << "the cut line must still decode";
  EXPECT_EQ(back->detail, "") << "the detail goes before the name is touched";
  EXPECT_EQ(back->name.substr(back->name.size() - 3), "\u2026");
  EXPECT_EQ(back->pid, big.pid);
  EXPECT_EQ(back->date, big.date);

  // Only the detail needs cutting here; what is kept is a prefix of it.
  Action longDetail = action(8, detail);
  auto kept = json_codec::decodeAs<Action>(NorvoStore::logLine(longDetail));
  ASSERT_TRUE(kept.has_value());
  EXPECT_GT(NorvoStore::logLine(longDetail).size(), NorvoStore::maxLogLineBytes - 16);
  ASSERT_GT(kept->detail.size(), 3u);
  std::string prefix = kept->detail.substr(0, kept->detail.size() - 3);
  EXPECT_EQ(detail.compare(0, prefix.size(), prefix), 0);
  EXPECT_EQ(kept->name, longDetail.name);

  // Short actions are written as they are.
  EXPECT_EQ(NorvoStore::logLine(action(1)), json_codec::encodeRecord(action(1)) + "\n");
}

TEST(NorvoStoreLog, RecentActionsReadsBackAcrossReadWindows) {
  // Lines near the cap, so that the tail needs several growing read windows.
  test::TempDir tmp;
  for (int i = 0; i < 40; ++i)
    NorvoStore::log(action(i, std::string(15000, 'a' + i % 26)), tmp.path());
  auto all = NorvoStore::recentActions(1000, tmp.path());
  ASSERT_EQ(all.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(all[static_cast<size_t>(i)].pid, 100 + 39 - i);
  auto some = NorvoStore::recentActions(7, tmp.path());
  ASSERT_EQ(some.size(), 7u);
  EXPECT_EQ(some.back().pid, 100 + 33);
}

TEST(NorvoStoreAction, IdIsSecondsAsShortestDoubleAndPid) {
  Action a = action(0);
  a.pid = 4242;
  a.date = Date(seconds(1700000000));
  EXPECT_EQ(a.id(), "1700000000.0-4242");
  a.date = Date(milliseconds(1700000000250));
  EXPECT_EQ(a.id(), "1700000000.25-4242");
  a.pid = -1;
  a.date = Date{};
  EXPECT_EQ(a.id(), "0.0--1");
  struct Case {
    double seconds;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{{1e16, "1e+16"},
                                         {1e15, "1000000000000000.0"},
                                         {0.1, "0.1"},
                                         {1e-5, "1e-05"},
                                         {-12.5, "-12.5"}}) {
    EXPECT_EQ(NorvoStore::describeSeconds(c.seconds), c.text);
  }
}

// --- Suggestions -------------------------------------------------------------

QuitSuggestion quitAt(int seconds, std::string source = "claude") {
  QuitSuggestion s = QuitSuggestion::make(std::move(source), "memory is short", {});
  s.created = at(seconds);
  return s;
}

TEST(NorvoStoreSuggestions, LifeCycleFromPendingToDone) {
  test::TempDir tmp;
  fs::path dir = tmp.path();
  QuitSuggestion s = quitAt(5);
  NorvoStore::addSuggestion(s, dir);
  EXPECT_TRUE(fs::is_regular_file(NorvoStore::pendingDir(dir) / (s.id + ".json")));
  EXPECT_EQ(NorvoStore::pendingSuggestions(dir), std::vector<QuitSuggestion>{s});
  EXPECT_EQ(NorvoStore::suggestion(s.id, dir), s);

  QuitSuggestion answered = s;
  answered.status = "answered";
  answered.quit = {"Slack"};
  answered.kept = {"Xcode"};
  answered.answeredAt = at(60);
  NorvoStore::resolve(answered, dir);
  EXPECT_TRUE(NorvoStore::pendingSuggestions(dir).empty());
  EXPECT_FALSE(fs::exists(NorvoStore::pendingDir(dir) / (s.id + ".json")));
  EXPECT_TRUE(fs::is_regular_file(NorvoStore::doneDir(dir) / (s.id + ".json")));
  EXPECT_EQ(NorvoStore::suggestion(s.id, dir), answered);
  EXPECT_FALSE(NorvoStore::suggestion(QuitSuggestion::make("x", "y", {}).id, dir).has_value());
}

TEST(NorvoStoreSuggestions, InterruptedResolveShowsTheAnswerOnLookup) {
  test::TempDir tmp;
  CleanupSuggestion s = CleanupSuggestion::make("caches are large", {"xcode.derived"});
  s.created = at(1);
  NorvoStore::addCleanup(s, tmp.path());
  CleanupSuggestion answered = s;
  answered.status = "done";
  answered.cleaned = {"xcode.derived"};
  answered.freedBytes = 1 << 30;
  // The done copy exists while the pending one is still there.
  record_file::write(answered, tmp.path() / "cleanups/done" / (s.id + ".json"));
  EXPECT_EQ(NorvoStore::cleanup(s.id, tmp.path()), answered);
  EXPECT_EQ(NorvoStore::pendingCleanups(tmp.path()), std::vector<CleanupSuggestion>{s});
  NorvoStore::resolveCleanup(answered, tmp.path());
  EXPECT_TRUE(NorvoStore::pendingCleanups(tmp.path()).empty());
}

TEST(NorvoStoreSuggestions, FailedDoneWriteKeepsThePendingRecord) {
  test::TempDir tmp;
  UninstallSuggestion s = UninstallSuggestion::make(
      "never used", Uninstall::App{.name = "Old", .path = "/opt/Old.app"});
  s.created = at(1);
  NorvoStore::addUninstall(s, tmp.path());
  // A folder under the done file's name makes the answer impossible to store.
  fs::create_directories(tmp.path() / "uninstalls/done" / (s.id + ".json") / "x");
  UninstallSuggestion answered = s;
  answered.status = "done";
  answered.removed = true;
  NorvoStore::resolveUninstall(answered, tmp.path());
  EXPECT_EQ(NorvoStore::pendingUninstalls(tmp.path()), std::vector<UninstallSuggestion>{s});
  EXPECT_EQ(NorvoStore::uninstall(s.id, tmp.path()), s);
}

TEST(NorvoStoreSuggestions, PendingComesOldestFirstWhateverTheFileNames) {
  test::TempDir tmp;
  std::vector<QuitSuggestion> made;
  for (int secs : {30, 10, 20, 10}) made.push_back(quitAt(secs));
  for (const auto& s : made) NorvoStore::addSuggestion(s, tmp.path());
  auto listed = NorvoStore::pendingSuggestions(tmp.path());
  ASSERT_EQ(listed.size(), 4u);
  for (size_t i = 1; i < listed.size(); ++i) {
    EXPECT_LE(listed[i - 1].created, listed[i].created);
    if (listed[i - 1].created == listed[i].created) {
      EXPECT_LT(listed[i - 1].id, listed[i].id);
    }
  }
  EXPECT_EQ(listed.back(), made[0]);
}

TEST(NorvoStoreSuggestions, OddEntriesInEveryPendingFolderAreSkippedAndKept) {
  test::TempDir tmp;
  fs::path dir = tmp.path();
  QuitSuggestion good = quitAt(1);
  NorvoStore::addSuggestion(good, dir);
  fs::path pending = NorvoStore::pendingDir(dir);
  QuitSuggestion other = quitAt(2);
  std::string otherJson = json_codec::encodeRecord(other);
  std::vector<std::pair<std::string, std::string>> odd = {
      {"notes.txt", otherJson},  // another extension
      {"empty.json", ""},        // empty
      {"torn.json", otherJson.substr(0, otherJson.size() / 2)},
      {"array.json", "[1,2]"},
      {"renamed.json", otherJson},  // decodes, but under another name than its id
      {".json", otherJson},         // hidden, no extension
  };
  QuitSuggestion noStatus = quitAt(3);
  nlohmann::json j = noStatus;
  j.erase("status");
  odd.emplace_back(noStatus.id + ".json", j.dump());
  for (const auto& [name, content] : odd) tmp.write(pending / name, content);
  fs::create_directories(pending / (quitAt(4).id + ".json"));  // a folder named like a record
  fs::path outside = tmp.write("outside.json", otherJson);
  fs::create_symlink(outside, pending / (other.id + ".json"));  // a link out of the store
  ASSERT_EQ(::mkfifo((pending / "pipe.json").c_str(), 0600), 0);

  EXPECT_EQ(NorvoStore::pendingSuggestions(dir), std::vector<QuitSuggestion>{good});
  EXPECT_FALSE(NorvoStore::suggestion(noStatus.id, dir).has_value());
  EXPECT_FALSE(NorvoStore::suggestion(other.id, dir).has_value()) << "followed a link";
  for (const auto& [name, content] : odd)
    EXPECT_EQ(test::readFile(pending / name), content) << name;

  // Resolving the linked id removes the link, never the file it points to.
  NorvoStore::resolve(other, dir);
  EXPECT_EQ(test::readFile(outside), otherJson);
  EXPECT_FALSE(fs::is_symlink(pending / (other.id + ".json")));
}

TEST(NorvoStoreSuggestions, WrongTypeFoldersReadAsEmpty) {
  test::TempDir tmp;
  for (const char* kind : {"suggestions", "cleanups", "uninstalls", "scans"})
    tmp.write(fs::path(kind) / "pending", "a file where a folder should be");
  EXPECT_TRUE(NorvoStore::pendingSuggestions(tmp.path()).empty());
  EXPECT_TRUE(NorvoStore::pendingCleanups(tmp.path()).empty());
  EXPECT_TRUE(NorvoStore::pendingUninstalls(tmp.path()).empty());
  EXPECT_TRUE(NorvoStore::pendingScans(tmp.path()).empty());
  QuitSuggestion s = quitAt(1);
  NorvoStore::addSuggestion(s, tmp.path());
  EXPECT_FALSE(NorvoStore::suggestion(s.id, tmp.path()).has_value());
  EXPECT_EQ(test::readFile(tmp.path() / "suggestions/pending"), "a file where a folder should be");
}

TEST(NorvoStoreSuggestions, RemovalNeverFollowsALinkedFolderOutOfTheStore) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  CleanupSuggestion s = CleanupSuggestion::make("r", {});
  fs::path elsewhere = tmp.path() / "elsewhere";
  tmp.write(elsewhere / (s.id + ".json"), json_codec::encodeRecord(s));
  fs::create_directories(dir / "cleanups");
  fs::create_symlink(elsewhere, dir / "cleanups/pending");
  NorvoStore::resolveCleanup(s, dir);
  EXPECT_TRUE(fs::exists(elsewhere / (s.id + ".json")));
}

TEST(NorvoStoreSuggestions, IdsThatCouldLeaveTheFolderAreRefused) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  QuitSuggestion s = quitAt(1);
  tmp.write("secret.json", json_codec::encodeRecord(s));
  for (std::string id : std::vector<std::string>{"../../secret", "", ".", "..", "a/b",
                                                 std::string(129, 'a'), ".hidden"}) {
    EXPECT_FALSE(NorvoStore::isStorableId(id)) << id;
    EXPECT_FALSE(NorvoStore::suggestion(id, dir).has_value()) << id;
    QuitSuggestion bad = s;
    bad.id = id;
    NorvoStore::addSuggestion(bad, dir);
    NorvoStore::resolve(bad, dir);
    NorvoStore::finishScan(id, "{}", dir);
    EXPECT_FALSE(NorvoStore::scanResult(id, dir).has_value());
  }
  EXPECT_FALSE(fs::exists(dir)) << "nothing may be written for a refused id";
  EXPECT_TRUE(NorvoStore::isStorableId(s.id));
}

// --- Scans ---------------------------------------------------------------------

TEST(NorvoStoreScans, FinishStoresTheTextUnchangedAndClosesTheRequest) {
  test::TempDir tmp;
  auto first = NorvoStore::ScanRequest::make("/", "/home/me/Downloads");
  auto second = NorvoStore::ScanRequest::make();
  first.created = at(10);
  second.created = at(5);
  NorvoStore::addScan(first, tmp.path());
  NorvoStore::addScan(second, tmp.path());
  EXPECT_EQ(NorvoStore::pendingScans(tmp.path()),
            (std::vector<NorvoStore::ScanRequest>{second, first}));
  EXPECT_FALSE(NorvoStore::scanResult(first.id, tmp.path()).has_value());

  NorvoStore::finishScan(first.id, "{}", tmp.path());
  EXPECT_EQ(NorvoStore::scanResult(first.id, tmp.path()), "{}");
  EXPECT_FALSE(fs::exists(tmp.path() / "scans/pending" / (first.id + ".json")));
  EXPECT_EQ(NorvoStore::pendingScans(tmp.path()), std::vector<NorvoStore::ScanRequest>{second});
  EXPECT_EQ(NorvoStore::scanResult(first.id, tmp.path()), "{}") << "reading leaves the result";

  // Not re-encoded: spacing, key order and even non-JSON text survive.
  std::string text = "{ \"z\": 1,\n  \"a\": [ ] }";
  NorvoStore::finishScan(second.id, text, tmp.path());
  EXPECT_EQ(NorvoStore::scanResult(second.id, tmp.path()), text);
}

TEST(NorvoStoreScans, ResultBytesAreRepairedAsUtf8) {
  test::TempDir tmp;
  struct Case {
    std::string stored, read;
  };
  for (const Case& c : std::vector<Case>{
           {"plain", "plain"},
           {"\xd0\xb6", "\xd0\xb6"},  // valid two-byte
           {"a\xff"
            "b",
            "a\xEF\xBF\xBD"
            "b"},                         // stray byte
           {"\xe2\x82", "\xEF\xBF\xBD"},  // truncated sequence at end
           {"\xe2\x82"
            "x",
            "\xEF\xBF\xBD"
            "x"},                                                     // truncated before ASCII
           {"\xed\xa0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
           {"\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
           {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},                  // four-byte emoji
       }) {
    tmp.write("scans/done/A.json", c.stored);
    EXPECT_EQ(NorvoStore::scanResult("A", tmp.path()), c.read);
  }
  fs::remove(tmp.path() / "scans/done/A.json");
  fs::create_directories(tmp.path() / "scans/done/A.json");
  EXPECT_FALSE(NorvoStore::scanResult("A", tmp.path()).has_value());
}

// --- The cleanup flag ------------------------------------------------------------

TEST(NorvoStoreFlag, SetClearAndOddEntries) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));
  NorvoStore::setScanUserFolders(false, dir);  // already off: nothing happens
  EXPECT_FALSE(fs::exists(dir));

  auto before = system_clock::now() - seconds(1);
  NorvoStore::setScanUserFolders(true, dir);
  EXPECT_TRUE(NorvoStore::scanUserFolders(dir));
  auto stamp = record_file::read<Date>(dir / "cleanup-user-folders");
  ASSERT_TRUE(stamp.has_value());
  EXPECT_GE(*stamp, floor<seconds>(before));
  NorvoStore::setScanUserFolders(false, dir);
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));

  // Garbage content still counts as set: only existence matters.
  tmp.write("store/cleanup-user-folders", "\x01garbage");
  EXPECT_TRUE(NorvoStore::scanUserFolders(dir));
  EXPECT_EQ(test::readFile(dir / "cleanup-user-folders"), "\x01garbage");

  // A folder or a link under the flag's name is not the flag, and is not removed.
  fs::remove(dir / "cleanup-user-folders");
  fs::create_directories(dir / "cleanup-user-folders");
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));
  NorvoStore::setScanUserFolders(false, dir);
  EXPECT_TRUE(fs::is_directory(dir / "cleanup-user-folders"));
  fs::remove(dir / "cleanup-user-folders");
  fs::path target = tmp.write("target", "x");
  fs::create_symlink(target, dir / "cleanup-user-folders");
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));
  NorvoStore::setScanUserFolders(false, dir);
  EXPECT_TRUE(fs::exists(target));
}

TEST(NorvoStoreWrites, UnwritableStoreDoesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  fs::create_directories(dir);
  ::chmod(dir.c_str(), 0555);
  NorvoStore::log(action(1), dir);
  NorvoStore::addSuggestion(quitAt(1), dir);
  NorvoStore::setScanUserFolders(true, dir);
  NorvoStore::addScan(NorvoStore::ScanRequest::make(), dir);
  EXPECT_TRUE(fs::is_empty(dir));
  ::chmod(dir.c_str(), 0755);
}

}  // namespace
}  // namespace norvo
