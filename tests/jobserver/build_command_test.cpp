#include "core/jobserver/build_command.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "core/jobserver/pool_ledger.hpp"

namespace norvo::jobserver {
namespace {

using Args = std::vector<std::string>;

// The words of `text` between separators; empty ones are dropped.
Args words(const std::string& text, char separator = ' ') {
  Args out;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, separator);)
    if (!word.empty()) out.push_back(word);
  return out;
}

TEST(PlanBuild, RemovesWhatWouldTakeTheBuildOutOfThePool) {
  struct Case {
    std::string in;
    std::optional<std::string> level;
    bool ninja;
    std::string out;
    std::string removed;  // separated by commas
    std::optional<int64_t> own;
  };
  // make -j8, make -sj8, cmake --build --parallel 8 and ninja -j8 are run for
  // real through the pool by the BuildPool tests.
  const Case cases[] = {
      {"/usr/bin/make -j 8 all", {}, false, "/usr/bin/make all", "-j 8", {}},
      {"make -j all", {}, false, "make all", "-j", {}},
      {"make -kj 4", {}, false, "make -k", "-kj 4", {}},
      {"make --jobs=3 --jobs X=1", {}, false, "make X=1", "--jobs=3,--jobs", {}},
      // A j inside an option's argument is no flag; after "--" all are targets.
      {"make -C -j8dir -fjobs.mk", {}, false, "make -C -j8dir -fjobs.mk", "", {}},
      {"make --directory -j2 -- -j3", {}, false, "make --directory -j2 -- -j3", "", {}},
      {"make -l2.5j3", {}, false, "make -l2.5", "-l2.5j3", {}},
      {"cmake --build b -j8 -- -k -j2", {}, false, "cmake --build b -- -k", "-j8,-j2", {}},
      {"cmake --build b", "6", false, "cmake --build b", "CMAKE_BUILD_PARALLEL_LEVEL=6", {}},
      {"cmake --build b -j 5", {}, true, "cmake --build b", "", 5},
      {"cmake --build b", "6", true, "cmake --build b", "", 6},
      {"ninja -j0", {}, false, "ninja", "", 10},
      {"cargo build -j8", {}, false, "cargo build -j8", "", {}},
      {"cmake -S . -j8", "4", false, "cmake -S . -j8", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    auto plan = planBuild(words(c.in), c.level, c.ninja, 10);
    EXPECT_EQ(plan.argv, words(c.out));
    EXPECT_EQ(plan.removed, words(c.removed, ','));
    EXPECT_EQ(plan.ownThreads, c.own);
    EXPECT_EQ(plan.dropCmakeParallelLevel, c.level && c.in.starts_with("cmake --build"));
  }
  EXPECT_EQ(withThreads(planBuild(words("ninja -j16 all"), {}, false, 4), 3),
            words("ninja -j 3 all"));
  EXPECT_EQ(withThreads(planBuild(words("cmake --build b -- -v"), {}, true, 4), 2),
            words("cmake --build b --parallel 2 -- -v"));
}

TEST(MergeMakeflags, KeepsTheCallersFlagsAndReplacesAnyJobserver) {
  const std::pair<std::string, std::string> cases[] = {
      {"", " -j --jobserver-auth=3,3"},
      {"k", "k -j --jobserver-auth=3,3"},
      {"ks -j8 --jobserver-auth=5,6", "ks -j --jobserver-auth=3,3"},
      {" -j --jobserver-fds=5,6 --no-print-directory -- CC=gcc X=a\\ b",
       "--no-print-directory -j --jobserver-auth=3,3 -- CC=gcc X=a\\ b"},
      {"-- V=1", " -j --jobserver-auth=3,3 -- V=1"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(mergeMakeflags(in, 3), out) << in;
}

TEST(BuildCommands, AreFoundInShellLinesAndRewrittenOnlyWhenPlain) {
  const std::tuple<std::string, bool, std::optional<std::string>> cases[] = {
      {"make -j8", true, "zemnorvo run -- make -j8"},
      {"  cmake --build build --parallel 8", true,
       "zemnorvo run -- cmake --build build --parallel 8"},
      {"/usr/bin/ninja -C out", true, "zemnorvo run -- /usr/bin/ninja -C out"},
      {"cargo +stable test --release", true, "zemnorvo run -- cargo +stable test --release"},
      {"g++ -O2 -flto=jobserver a.o b.o", true, "zemnorvo run -- g++ -O2 -flto=jobserver a.o b.o"},
      {"cd build && make", true, std::nullopt},
      {"CC=clang make", true, std::nullopt},
      {"git status; ls", false, std::nullopt},
      {"cmake -S . -B build", false, std::nullopt},
      {"cargo fmt", false, std::nullopt},
      {"gcc -c a.c", false, std::nullopt},
      {"zemnorvo run -- make", false, std::nullopt},
      {"echo make", false, std::nullopt},
  };
  for (const auto& [command, builds, rewritten] : cases) {
    EXPECT_EQ(startsBuild(command), builds) << command;
    EXPECT_EQ(throughPool(command), rewritten) << command;
  }
}

TEST(PoolLedger, FollowsTheTargetAndTrustsOnlyAnIdleCount) {
  EXPECT_EQ(targetTokens(4, 0), 3);
  EXPECT_EQ(targetTokens(16, 4), 3);
  EXPECT_EQ(targetTokens(0, 8), 0);

  PoolLedger ledger{2, 5};
  EXPECT_EQ(tokensToAdd(ledger), 3);
  EXPECT_EQ(tokensOwed(ledger), 0);
  EXPECT_FALSE(keepReadToken(ledger)) << "a read while growing goes back";
  ledger = {4, 1};
  EXPECT_EQ(tokensOwed(ledger), 3);
  EXPECT_TRUE(keepReadToken(ledger));
  EXPECT_EQ(ledger.issued, 3);

  const std::pair<HolderLook, int64_t> looks[] = {
      {{0, 1, 0}, 1},             // lost tokens: trust the FIFO
      {{0, 6, 0}, 6},             // extra tokens: the reader trims them
      {{1, 0, 0}, 3},             // a client held some before the count
      {{0, 0, 1}, 3},             // one opened during the count
      {{std::nullopt, 1, 0}, 3},  // /proc unreadable proves nothing
      {{0, std::nullopt, 0}, 3},
  };
  for (const auto& [look, issued] : looks) EXPECT_EQ(afterLook(ledger, look).issued, issued);
}

}  // namespace
}  // namespace norvo::jobserver
