// Several processes using one store at once, as the app, the agent server and
// command-line calls do: no lock anywhere, so these tests are the evidence
// that appends stay whole and record rewrites are never seen half-done.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using NorvoStore::Action;

// Enough writers and rounds that appends and rewrites overlap on every run,
// few enough to keep the test short under the sanitizers.
constexpr int kWriters = 6, kLinesPerWriter = 700, kRewriteEvery = 35;

// Texts of varied length, some longer than a memory page, each telling who
// wrote it and which one it is ("writer<sep>sequence<sep>filler"), so that a
// mixed-up line or record cannot pass.
std::string textFor(int writer, int seq, char sep, size_t length, char fill) {
  return std::to_string(writer) + sep + std::to_string(seq) + sep + std::string(length, fill);
}
std::string detailFor(int writer, int seq) {
  size_t length = (seq % 7 == 0) ? 6000 + static_cast<size_t>(seq % 500) : 10 + seq % 90;
  return textFor(writer, seq, ':', length, static_cast<char>('a' + (writer * 31 + seq) % 26));
}
std::string reasonFor(int writer, int round) {
  return textFor(writer, round, '/', 40000 + static_cast<size_t>(round * 13 % 1000),
                 static_cast<char>('A' + writer));
}
// The writer and sequence a text claims, when it has the shape.
std::optional<std::pair<int, int>> claimed(const std::string& text, char sep) {
  auto first = text.find(sep), second = text.find(sep, first + 1);
  if (second == std::string::npos) return std::nullopt;
  return std::pair(std::stoi(text.substr(0, first)), std::stoi(text.substr(first + 1)));
}

bool consistent(const QuitSuggestion& s) {
  auto c = claimed(s.reason, '/');
  return c && s.items.size() == 1 && s.source == "w" + std::to_string(c->first) &&
         s.reason == reasonFor(c->first, c->second) && s.items[0].mainPid == c->second;
}

bool consistent(const Action& a) {
  auto c = claimed(a.detail, ':');
  return c && a.pid == c->first && a.actor == "w" + std::to_string(c->first) &&
         a.detail == detailFor(c->first, c->second);
}

TEST(StoreConcurrency, ParallelWritersNeverTearLinesOrRecords) {
  test::TempDir tmp;
  fs::path dir = tmp.path() / "store";
  QuitSuggestion shared = QuitSuggestion::make("w0", reasonFor(0, 0), {QuitSuggestion::Item{}});
  NorvoStore::addSuggestion(shared, dir);

  // Fork before any thread exists in this process, so that the children
  // inherit no held locks.
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      QuitSuggestion mine = shared;
      mine.source = "w" + std::to_string(w);
      for (int seq = 0; seq < kLinesPerWriter; ++seq) {
        NorvoStore::log(
            {std::chrono::system_clock::now(), mine.source, "stress", w, "line", detailFor(w, seq)},
            dir);
        if (seq % kRewriteEvery != 0) continue;
        mine.reason = reasonFor(w, seq);
        mine.items[0].mainPid = seq;
        NorvoStore::addSuggestion(mine, dir);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }

  std::atomic<bool> stop{false};
  std::atomic<int> recordReads{0}, badRecords{0}, logReads{0}, badLines{0};
  std::thread recordReader([&] {
    for (; !stop; ++recordReads) {
      auto s = NorvoStore::suggestion(shared.id, dir);
      auto pending = NorvoStore::pendingSuggestions(dir);
      if (!s || !consistent(*s) || pending.size() != 1 || !consistent(pending[0])) ++badRecords;
    }
  });
  std::thread logReader([&] {
    for (; !stop; ++logReads)
      for (const Action& a : NorvoStore::recentActions(40, dir))
        if (!consistent(a)) ++badLines;
  });
  for (pid_t child : children) {
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
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
  // writer's own order. An append that raced another one may start with a
  // spare line feed (see NorvoStore::log); readers drop empty lines.
  std::string log = test::readFile(dir / "actions.jsonl");
  ASSERT_FALSE(log.empty());
  ASSERT_EQ(log.back(), '\n');
  std::map<int, int> nextSeq;
  size_t lines = 0, emptyLines = 0;
  for (size_t start = 0, end; start < log.size(); start = end + 1) {
    end = log.find('\n', start);
    if (end == start && ++emptyLines) continue;
    auto action = json_codec::decodeAs<Action>(std::string_view(log).substr(start, end - start));
    ASSERT_TRUE(action && consistent(*action)) << "torn or mixed line at byte " << start;
    EXPECT_EQ(claimed(action->detail, ':')->second, nextSeq[action->pid]++) << action->pid;
    ++lines;
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
  std::vector<CleanupSuggestion> all;
  for (int i = 0; i < 30; ++i) {
    all.push_back(CleanupSuggestion::make("r" + std::to_string(i), {"a"}));
    NorvoStore::addCleanup(all.back(), tmp.path());
  }
  std::atomic<bool> stop{false};
  std::atomic<int> missing{0};
  std::thread poller([&] {
    while (!stop)
      for (const auto& s : all)
        if (!NorvoStore::cleanup(s.id, tmp.path())) ++missing;
  });
  for (auto s : all) {
    s.status = "done";
    NorvoStore::resolveCleanup(s, tmp.path());
  }
  stop = true;
  poller.join();
  EXPECT_EQ(missing.load(), 0);
  EXPECT_TRUE(NorvoStore::pendingCleanups(tmp.path()).empty());
  for (const auto& s : all) EXPECT_EQ(NorvoStore::cleanup(s.id, tmp.path())->status, "done");
}

}  // namespace
}  // namespace norvo
