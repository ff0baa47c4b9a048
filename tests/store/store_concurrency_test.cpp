// Several processes using one store at once, as the app, the agent server and
// command-line calls do: no lock anywhere, so these tests are the evidence
// that appends stay whole and record rewrites are never seen half-done.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using NorvoStore::Action;

constexpr int kWriters = 8;
constexpr int kLinesPerWriter = 2000;
constexpr int kRewriteEvery = 100;

// Details of varied length, some longer than a memory page, each telling who
// wrote it and which line it is, so that a mixed-up line cannot pass.
std::string detailFor(int writer, int seq) {
  size_t length = (seq % 7 == 0) ? 6000 + static_cast<size_t>(seq % 500) : 10 + seq % 90;
  std::string text = std::to_string(writer) + ":" + std::to_string(seq) + ":";
  text.append(length, static_cast<char>('a' + (writer * 31 + seq) % 26));
  return text;
}

std::string reasonFor(int writer, int round) {
  std::string text = std::to_string(writer) + "/" + std::to_string(round) + "/";
  text.append(40000 + static_cast<size_t>(round * 13 % 1000), static_cast<char>('A' + writer));
  return text;
}

bool consistent(const QuitSuggestion& s) {
  // Source names the writer; the reason must be exactly what that writer wrote.
  if (s.source.rfind("w", 0) != 0 || s.items.size() != 1) return false;
  auto slash = s.reason.find('/');
  auto second = s.reason.find('/', slash + 1);
  if (slash == std::string::npos || second == std::string::npos) return false;
  int writer = std::stoi(s.reason.substr(0, slash));
  int round = std::stoi(s.reason.substr(slash + 1, second - slash - 1));
  return s.source == "w" + std::to_string(writer) && s.reason == reasonFor(writer, round) &&
         s.items[0].mainPid == round;
}

bool consistent(const Action& a) {
  auto colon = a.detail.find(':');
  auto second = a.detail.find(':', colon + 1);
  if (colon == std::string::npos || second == std::string::npos) return false;
  int writer = std::stoi(a.detail.substr(0, colon));
  int seq = std::stoi(a.detail.substr(colon + 1, second - colon - 1));
  return a.pid == writer && a.actor == "w" + std::to_string(writer) &&
         a.detail == detailFor(writer, seq);
}

int runWriter(int writer, const fs::path& dir, const QuitSuggestion& shared) {
  QuitSuggestion mine = shared;
  mine.source = "w" + std::to_string(writer);
  for (int seq = 0; seq < kLinesPerWriter; ++seq) {
    NorvoStore::log(Action{std::chrono::system_clock::now(), "w" + std::to_string(writer), "stress",
                           writer, "line", detailFor(writer, seq)},
                    dir);
    if (seq % kRewriteEvery == 0) {
      mine.reason = reasonFor(writer, seq);
      mine.items[0].mainPid = seq;
      NorvoStore::addSuggestion(mine, dir);
    }
  }
  return 0;
}

TEST(StoreConcurrency, ParallelWritersNeverTearLinesOrRecords) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  QuitSuggestion shared = QuitSuggestion::make("w0", reasonFor(0, 0), {QuitSuggestion::Item{}});
  NorvoStore::addSuggestion(shared, dir);

  // Fork before any thread exists in this process, so the children inherit no
  // held locks.
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(runWriter(w, dir, shared));
    children.push_back(pid);
  }

  std::atomic<bool> stop{false};
  std::atomic<int> recordReads{0}, badRecords{0}, logReads{0}, badLines{0};
  auto readRecords = [&] {
    while (!stop) {
      auto s = NorvoStore::suggestion(shared.id, dir);
      if (!s || !consistent(*s)) ++badRecords;
      auto pending = NorvoStore::pendingSuggestions(dir);
      if (pending.size() != 1 || !consistent(pending[0])) ++badRecords;
      ++recordReads;
    }
  };
  auto readLog = [&] {
    while (!stop) {
      for (const Action& a : NorvoStore::recentActions(40, dir))
        if (!consistent(a)) ++badLines;
      ++logReads;
    }
  };
  std::thread recordReader(readRecords), logReader(readLog);

  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  stop = true;
  recordReader.join();
  logReader.join();

  EXPECT_GT(recordReads.load(), 0);
  EXPECT_GT(logReads.load(), 0);

  EXPECT_EQ(badRecords.load(), 0) << "a reader saw a missing or mixed record";
  EXPECT_EQ(badLines.load(), 0) << "a reader saw a mixed log line";

  // Every line of every writer is there exactly once, whole and in each
  // writer's own order.
  std::string log = test::readFile(dir / "actions.jsonl");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  std::map<int, int> nextSeq;
  size_t lines = 0, start = 0, emptyLines = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    if (end == start) {
      // An append that raced another one may start with a spare line feed
      // (see NorvoStore::log); readers drop empty lines.
      ++emptyLines;
      start = end + 1;
      continue;
    }
    auto action = json_codec::decodeAs<Action>(std::string_view(log).substr(start, end - start));
    ASSERT_TRUE(action.has_value()) << "torn line at byte " << start;
    ASSERT_TRUE(consistent(*action)) << "mixed line at byte " << start;
    int seq = std::stoi(action->detail.substr(action->detail.find(':') + 1));
    EXPECT_EQ(seq, nextSeq[action->pid]++) << "writer " << action->pid;
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, static_cast<size_t>(kWriters * kLinesPerWriter));
  EXPECT_LT(emptyLines, lines / 10);
  EXPECT_EQ(NorvoStore::recentActions(kWriters * kLinesPerWriter + 5, dir).size(), lines);

  // No temporary file of the atomic writes is left behind.
  EXPECT_EQ(
      std::distance(fs::directory_iterator(NorvoStore::pendingDir(dir)), fs::directory_iterator{}),
      1);
}

// The app answers while the agent polls: a lookup by id always finds the
// suggestion, pending or answered, never nothing.
TEST(StoreConcurrency, LookupDuringResolveAlwaysFindsTheRecord) {
  test::TempDir tmp;
  fs::path dir = tmp.path();
  std::vector<CleanupSuggestion> all;
  for (int i = 0; i < 30; ++i) {
    all.push_back(CleanupSuggestion::make("r" + std::to_string(i), {"a"}));
    NorvoStore::addCleanup(all.back(), dir);
  }
  std::atomic<bool> stop{false};
  std::atomic<int> missing{0};
  std::thread poller([&] {
    while (!stop)
      for (const auto& s : all)
        if (!NorvoStore::cleanup(s.id, dir)) ++missing;
  });
  for (auto s : all) {
    s.status = "done";
    s.freedBytes = 1;
    NorvoStore::resolveCleanup(s, dir);
  }
  stop = true;
  poller.join();
  EXPECT_EQ(missing.load(), 0);
  EXPECT_TRUE(NorvoStore::pendingCleanups(dir).empty());
  for (const auto& s : all) EXPECT_EQ(NorvoStore::cleanup(s.id, dir)->status, "done");
}

}  // namespace
}  // namespace norvo
