#include "core/store/norvo_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

std::vector<int32_t> recentPids(int64_t limit, const fs::path& dir) {
  std::vector<int32_t> out;
  for (const auto& a : NorvoStore::recentActions(limit, dir)) out.push_back(a.pid);
  return out;
}

void append(const fs::path& file, std::string_view text) {
  std::ofstream(file, std::ios::binary | std::ios::app) << text;
}

TEST(NorvoStoreLog, FirstLogCreatesTheStoreAndReadsBackNewestFirst) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "fresh" / "ZemraNorvo";
  NorvoStore::log(action(1, "stopped runaway build"), dir);
  EXPECT_EQ(NorvoStore::recentActions(1, dir),
            std::vector<Action>{action(1, "stopped runaway build")});
  for (int i = 2; i <= 3; ++i) NorvoStore::log(action(i), dir);
  for (auto [limit, pids] : std::vector<std::pair<int64_t, std::vector<int32_t>>>{
           {0, {}}, {-4, {}}, {2, {103, 102}}, {5, {103, 102, 101}}})
    EXPECT_EQ(recentPids(limit, dir), pids) << "limit " << limit;
}

TEST(NorvoStoreLog, BadLinesAreSkippedButCountTowardsTheLimit) {
  test::TempDir tmp;
  fs::path log = tmp.path() / "actions.jsonl";
  NorvoStore::log(action(1), tmp.path());
  append(log, "\n\n{\"actor\":\"ai\"}\n");  // empty pieces, then a record of another shape
  NorvoStore::log(action(2), tmp.path());
  append(log, "not json at all\n");
  const std::string line = R"({"actor":"ai","date":"2026-05-01T00:00:09Z","kind":"k","name":"n",)";
  append(log, line + "\"detail\":\"\xff\xfe\",\"pid\":9}\n");     // not UTF-8
  append(log, line + R"("detail":"","pid":4294967296})" + "\n");  // pid beyond 32 bits
  NorvoStore::log(action(3), tmp.path());
  append(log, R"({"actor":"ai","date":"2026-05-01T00:00:09Z","deta)");  // torn last line
  std::string before = test::readFile(log);
  // The torn line is the newest piece: limit 1 finds nothing, limit 2 one entry.
  EXPECT_EQ(recentPids(1, tmp.path()), std::vector<int32_t>{});
  EXPECT_EQ(recentPids(2, tmp.path()), std::vector<int32_t>{103});
  EXPECT_EQ(recentPids(100, tmp.path()), (std::vector<int32_t>{103, 102, 101}));
  EXPECT_EQ(test::readFile(log), before) << "reading must never rewrite the log";
  // An append after the torn tail starts on a fresh line.
  NorvoStore::log(action(4), tmp.path());
  EXPECT_EQ(recentPids(1, tmp.path()), std::vector<int32_t>{104});
}

TEST(NorvoStoreLog, NeitherFoldersFifosNorLinksAreUsedAsTheLog) {
  test::TempDir tmp;
  EXPECT_TRUE(NorvoStore::recentActions(5, tmp.path() / "nowhere").empty());
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
  // A link planted as the log is not written through.
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
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  auto back = json_codec::decodeAs<Action>(std::string_view(line).substr(0, line.size() - 1));
  ASSERT_TRUE(back.has_value()) << "the cut line must still decode";
  EXPECT_EQ(std::pair(back->pid, back->date), std::pair(big.pid, big.date));

  // Lines near the cap, so that the tail needs several growing read windows.
  test::TempDir tmp;
  for (int i = 0; i < 40; ++i)
    NorvoStore::log(action(i, std::string(15000, 'a' + i % 26)), tmp.path());
  auto all = recentPids(1000, tmp.path());
  ASSERT_EQ(all.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(all[size_t(i)], 100 + 39 - i);
  EXPECT_EQ(recentPids(7, tmp.path()).back(), 100 + 33);
}

QuitSuggestion quitAt(int seconds) {
  QuitSuggestion s = QuitSuggestion::make("claude", "memory is short", {});
  s.created = at(seconds);
  return s;
}

TEST(NorvoStoreSuggestions, LifeCycleFromPendingToDone) {
  test::TempDir tmp;
  fs::path dir = tmp.path();
  QuitSuggestion s = quitAt(30), other = quitAt(10);
  NorvoStore::addSuggestion(s, dir);
  NorvoStore::addSuggestion(other, dir);
  EXPECT_EQ(NorvoStore::suggestion(s.id, dir), s);
  s.status = "answered";
  s.quit = {"Slack"};
  s.answeredAt = at(60);
  NorvoStore::resolve(s, dir);
  EXPECT_EQ(NorvoStore::pendingSuggestions(dir), std::vector<QuitSuggestion>{other});
  EXPECT_EQ(NorvoStore::suggestion(s.id, dir), s);
  EXPECT_FALSE(NorvoStore::suggestion(QuitSuggestion::make("x", "y", {}).id, dir).has_value());
}

TEST(NorvoStoreSuggestions, InterruptedOrFailedResolveLeavesALookupThatWorks) {
  test::TempDir tmp;
  CleanupSuggestion s = CleanupSuggestion::make("caches are large", {"xcode.derived"});
  s.created = at(1);  // whole seconds, as stored
  NorvoStore::addCleanup(s, tmp.path());
  CleanupSuggestion answered = s;
  answered.status = "done";
  answered.freedBytes = 1 << 30;
  // Interrupted: the done copy exists while the pending one is still there.
  record_file::write(answered, tmp.path() / "cleanups/done" / (s.id + ".json"));
  EXPECT_EQ(NorvoStore::cleanup(s.id, tmp.path()), answered);
  EXPECT_EQ(NorvoStore::pendingCleanups(tmp.path()), std::vector<CleanupSuggestion>{s});
  NorvoStore::resolveCleanup(answered, tmp.path());
  EXPECT_TRUE(NorvoStore::pendingCleanups(tmp.path()).empty());

  // Failed: a folder under the done file's name makes the answer impossible to store.
  UninstallSuggestion u = UninstallSuggestion::make("never used", "Old", "/opt/Old.app");
  u.created = at(2);
  NorvoStore::addUninstall(u, tmp.path());
  fs::create_directories(tmp.path() / "uninstalls/done" / (u.id + ".json") / "x");
  UninstallSuggestion removed = u;
  removed.status = "done";
  removed.removed = true;
  NorvoStore::resolveUninstall(removed, tmp.path());
  EXPECT_EQ(NorvoStore::pendingUninstalls(tmp.path()), std::vector<UninstallSuggestion>{u});
  EXPECT_EQ(NorvoStore::uninstall(u.id, tmp.path()), u);
}

TEST(NorvoStoreSuggestions, OddEntriesAreSkippedAndKeptLinksNeverFollowed) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  QuitSuggestion good = quitAt(1);
  NorvoStore::addSuggestion(good, dir);
  fs::path pending = NorvoStore::pendingDir(dir);
  QuitSuggestion other = quitAt(2);
  std::string otherJson = json_codec::encodeRecord(other);
  QuitSuggestion noStatus = quitAt(3);
  nlohmann::json j = noStatus;
  j.erase("status");
  std::vector<std::pair<std::string, std::string>> odd = {
      {"notes.txt", otherJson},  // another extension
      {"torn.json", otherJson.substr(0, otherJson.size() / 2)},
      {".json", otherJson},
      {noStatus.id + ".json", j.dump()}};
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

  // A linked pending folder is not followed out of the store either.
  CleanupSuggestion c = CleanupSuggestion::make("r", {});
  tmp.write(fs::path("elsewhere") / (c.id + ".json"), json_codec::encodeRecord(c));
  fs::create_directories(dir / "cleanups");
  fs::create_symlink(tmp.path() / "elsewhere", dir / "cleanups/pending");
  NorvoStore::resolveCleanup(c, dir);
  EXPECT_TRUE(fs::exists(tmp.path() / "elsewhere" / (c.id + ".json")));
  // A file where a pending folder should be reads as empty and stays.
  tmp.write("store/scans/pending", "a file where a folder should be");
  EXPECT_TRUE(NorvoStore::pendingScans(dir).empty());
  EXPECT_EQ(test::readFile(dir / "scans/pending"), "a file where a folder should be");
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
    EXPECT_FALSE(NorvoStore::scanResult(id, dir).has_value()) << id;
  }
  EXPECT_FALSE(fs::exists(dir)) << "nothing may be written for a refused id";
  EXPECT_TRUE(NorvoStore::isStorableId(std::string(128, 'a')));
}

TEST(NorvoStoreScans, FinishStoresTheTextUnchangedRepairedOnReading) {
  test::TempDir tmp;
  auto first = NorvoStore::ScanRequest::make("/", "/home/me/Downloads");
  first.created = at(10);
  NorvoStore::addScan(first, tmp.path());
  EXPECT_FALSE(NorvoStore::scanResult(first.id, tmp.path()).has_value());
  // Not re-encoded: spacing, key order and even non-JSON text survive.
  std::string text = "{ \"z\": 1,\n  \"a\": [ ] }";
  NorvoStore::finishScan(first.id, text, tmp.path());
  EXPECT_EQ(NorvoStore::scanResult(first.id, tmp.path()), text);
  EXPECT_TRUE(NorvoStore::pendingScans(tmp.path()).empty());
  EXPECT_EQ(NorvoStore::scanResult(first.id, tmp.path()), text) << "reading leaves the result";

  const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
  for (auto [stored, read] : std::vector<std::pair<std::string, std::string>>{
           {"a\xff"
            "b",
            "a" + bad + "b"},                            // stray byte
           {"\xe2\x82", bad},                            // truncated at the end
           {"\xed\xa0\x80", bad + bad + bad},            // surrogate
           {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"}}) {  // four-byte emoji
    tmp.write("scans/done/A.json", stored);
    EXPECT_EQ(NorvoStore::scanResult("A", tmp.path()), read);
  }
}

TEST(NorvoStoreFlag, SetClearAndOddEntries) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store", flag = dir / "cleanup-user-folders";
  NorvoStore::setScanUserFolders(false, dir);  // already off: nothing happens
  EXPECT_FALSE(fs::exists(dir));
  NorvoStore::setScanUserFolders(true, dir);
  EXPECT_TRUE(NorvoStore::scanUserFolders(dir));
  NorvoStore::setScanUserFolders(false, dir);
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));
  // A folder or a link under the flag's name is not the flag, and is not removed.
  fs::remove(flag);
  fs::create_directories(flag);
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));
  NorvoStore::setScanUserFolders(false, dir);
  EXPECT_TRUE(fs::is_directory(flag));
  fs::remove(flag);
  fs::create_symlink(tmp.write("target", "x"), flag);
  EXPECT_FALSE(NorvoStore::scanUserFolders(dir));
  NorvoStore::setScanUserFolders(false, dir);
  EXPECT_TRUE(fs::exists(tmp.path() / "target"));
}

// A write that a caller waits on says whether it happened and why not, and
// the pending listing keeps every record that decodes.
TEST(StoreWrites, FailuresNameTheFileAndTheReason) {
  test::TempDir dir;
  // A store under a regular file cannot be written, even by root.
  auto blocked = dir.write("not-a-folder", "") / "ZemraNorvo";
  auto s = QuitSuggestion::make("agent pid 7", "slow build", {});
  auto filed = NorvoStore::addSuggestion(s, blocked);
  EXPECT_FALSE(filed);
  EXPECT_NE(filed.error.find("Not a directory"), std::string::npos) << filed.error;
  EXPECT_FALSE(NorvoStore::saveStatus(NorvoSnapshot{}, blocked));
  EXPECT_NO_THROW(NorvoStore::log({Date{}, "ai", "kill", 1, "p", ""}, blocked));
  EXPECT_FALSE(NorvoStore::resolve(s, blocked));

  auto badId = NorvoStore::finishScan("../escape", "{}", dir.path());
  EXPECT_NE(badId.error.find("../escape"), std::string::npos);
}

}  // namespace
}  // namespace norvo
