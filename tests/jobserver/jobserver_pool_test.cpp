// The build pool with real make, cmake and ninja: how many jobs run at once
// under it, lost tokens, shrinking under a running build, and the FIFO
// refused when it is not what the pool made.
#include "core/jobserver/jobserver_pool.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "cli/child_process.hpp"
#include "core/platform/jobserver_fifo.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::jobserver {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A job that appends "s NS" to LOG when it starts and "e NS" when it ends.
std::string record(const test::TempDir& dir, const std::string& log, double seconds) {
  auto script = dir.write("job.sh",
                          "echo s $(date +%s%N) >> \"$1\"\nsleep \"$2\"\n"
                          "echo e $(date +%s%N) >> \"$1\"\n");
  return "sh " + script.string() + " " + (dir.path() / log).string() + " " +
         std::to_string(seconds);
}

fs::path makefile(const test::TempDir& dir, const std::string& name, int jobs, double seconds) {
  std::string text = "all:";
  for (int i = 0; i < jobs; ++i) text += " j" + std::to_string(i);
  text += "\nj%:\n\t@" + record(dir, name + ".log", seconds) + "\n";
  return dir.write(name + ".mk", text);
}

// Each start with the jobs running at that moment, itself included.
std::vector<std::pair<int64_t, int>> starts(const std::vector<fs::path>& logs) {
  std::vector<std::pair<int64_t, int>> events;  // end (-1) before start (+1) at a tie
  for (const auto& log : logs) {
    std::ifstream in(log);
    std::string kind;
    int64_t ns;
    while (in >> kind >> ns) events.emplace_back(ns, kind == "s" ? 1 : -1);
  }
  std::sort(events.begin(), events.end());
  std::vector<std::pair<int64_t, int>> out;
  int running = 0;
  for (auto [ns, delta] : events) {
    running += delta;
    if (delta > 0) out.emplace_back(ns, running);
  }
  return out;
}

int mostAtOnce(const std::vector<fs::path>& logs) {
  int most = 0;
  for (auto [ns, running] : starts(logs)) most = std::max(most, running);
  return most;
}

struct Pool {
  test::FreshHome home;
  fs::path path = *platform::jobserverPath();
  std::string error;
  std::unique_ptr<JobserverPool> pool = JobserverPool::open(path, platform::Roots::system(), error);
  PoolState follow(int64_t threads) { return pool->follow(threads, 0, error); }
  // Follows until `done` holds, for up to five seconds.
  template <typename Done>
  PoolState until(int64_t threads, Done done) {
    PoolState s = follow(threads);
    for (auto end = std::chrono::steady_clock::now() + 5s;
         !done(s) && std::chrono::steady_clock::now() < end; s = follow(threads))
      std::this_thread::sleep_for(20ms);
    return s;
  }
};

TEST(BuildPool, TwoBuildsThroughTheLoopRunNoMoreJobsThanThePoolAllows) {
  test::FreshHome home;
  ::setenv("ZEMNORVO_POOL_THREADS", "2", 1);
  test::TempDir dir;
  auto a = makefile(dir, "a", 12, 0.2), b = makefile(dir, "b", 12, 0.2);
  const std::vector<fs::path> logs{dir.path() / "a.log", dir.path() / "b.log"};
  auto state = stateFile(*platform::jobserverPath());
  {
    test::ChildProcess watch({test::cliPath(), "watch", "--interval", "1", "--quiet"});
    ::unsetenv("ZEMNORVO_POOL_THREADS");
    for (auto end = std::chrono::steady_clock::now() + 20s;
         !fs::exists(state) && std::chrono::steady_clock::now() < end;)
      std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(fs::exists(state));
    test::ChildProcess first({test::cliPath(), "run", "--", "make", "-f", a.string(), "-j8"});
    test::ChildProcess second({test::cliPath(), "run", "make", "-sj8", "-f", b.string()});
    EXPECT_EQ(first.wait(20s), 0);
    EXPECT_EQ(second.wait(20s), 0);
    EXPECT_NE(first.readErrors(1s).find("removed -j8"), std::string::npos);
    // One token in the pool, and one implicit token for each client.
    EXPECT_LE(mostAtOnce(logs), 1 + 2);
    EXPECT_EQ(starts(logs).size(), 24u);

    auto status = json_codec::decode(test::zemnorvo({"status", "--limit", "0"}).out);
    ASSERT_TRUE(status && status->contains("build_pool")) << (status ? status->dump() : "");
    EXPECT_EQ((*status)["build_pool"]["size"], 2);
    EXPECT_NE((*status)["advice"].dump().find("zemnorvo run --"), std::string::npos);
    watch.signal(SIGTERM);
    EXPECT_EQ(watch.wait(5s), 0);
  }
  // With no loop keeping the pool the same builds are not held back.
  for (const auto& log : logs) fs::remove(log);
  test::ChildProcess first({test::cliPath(), "run", "--", "make", "-f", a.string(), "-j8"});
  test::ChildProcess second({test::cliPath(), "run", "--", "make", "-f", b.string(), "-j8"});
  EXPECT_EQ(first.wait(20s), 0);
  EXPECT_EQ(second.wait(20s), 0);
  EXPECT_GT(mostAtOnce(logs), 3);
}

TEST(BuildPool, ShrinkingStartsNoJobUntilTheBuildFitsAndAKilledMakesTokensComeBack) {
  Pool p;
  ASSERT_TRUE(p.pool) << p.error;
  test::TempDir dir;
  auto mk = makefile(dir, "s", 40, 0.2);
  EXPECT_EQ(p.follow(4).free, 3);
  test::ChildProcess make({test::cliPath(), "run", "--", "make", "-f", mk.string(), "-j"});
  auto full = [](const PoolState& s) { return s.free == 0 && s.clients > 0; };
  ASSERT_EQ(p.until(4, full).free, 0);
  // Tokens still out after each tick: a job may start only with one of them.
  std::vector<std::pair<int64_t, int64_t>> out;
  auto shrunk = p.until(1, [&](const PoolState& s) {
    out.emplace_back(nowNs(), s.tokens);
    return s.tokens == 0;
  });
  EXPECT_EQ(shrunk.tokens, 0) << "the tokens did not come back";
  // Grown again, the pool's tokens go to the build, and with it when it is killed.
  auto grown = nowNs();
  ASSERT_EQ(p.until(3, full).free, 0);
  make.signal(SIGKILL);
  make.wait(2s);
  // The killed make's jobs still hold the FIFO until they end; then the pool
  // counts itself idle and puts the lost tokens back.
  auto s = p.until(3, [](const PoolState& s) { return s.clients == 0; });
  EXPECT_EQ(s.clients, 0);
  EXPECT_EQ(s.free, 2);
  EXPECT_EQ(s.tokens, 2);
  for (auto [ns, running] : starts({dir.path() / "s.log"})) {
    if (ns >= grown) break;
    auto before = std::find_if(out.rbegin(), out.rend(), [&](auto& o) { return o.first <= ns; });
    int64_t limit = before == out.rend() ? 4 : 1 + before->second;
    EXPECT_LE(running, limit) << "a job started " << (ns - out.front().first) / 1000000
                              << " ms after the pool shrank";
  }
}

TEST(BuildPool, CmakeAndNinjaWithTheirOwnParallelismStayInThePool) {
  Pool p;
  ASSERT_TRUE(p.pool) << p.error;
  EXPECT_EQ(p.follow(2).free, 1);
  test::TempDir dir;
  std::string cmake = "cmake_minimum_required(VERSION 3.16)\nproject(p NONE)\n";
  std::string ninja = "rule rec\n  command = " + record(dir, "n.log", 0.2) + "\n";
  for (int i = 0; i < 6; ++i) {
    cmake += "add_custom_target(t" + std::to_string(i) + " ALL COMMAND " +
             record(dir, "c.log", 0.2) + ")\n";
    ninja += "build o" + std::to_string(i) + ": rec\n";
  }
  dir.write("src/CMakeLists.txt", cmake);
  dir.write("n/build.ninja", ninja);
  auto configure = test::run({"/usr/bin/cmake", "-S", (dir.path() / "src").string(), "-B",
                              (dir.path() / "b").string(), "-G", "Unix Makefiles"},
                             "", 30s);
  ASSERT_EQ(configure.status, 0) << configure.errors;

  auto built = test::run({test::cliPath(), "run", "--", "/usr/bin/cmake", "--build",
                          (dir.path() / "b").string(), "--parallel", "8"},
                         "", 20s);
  EXPECT_EQ(built.status, 0) << built.errors;
  EXPECT_EQ(starts({dir.path() / "c.log"}).size(), 6u);
  EXPECT_LE(mostAtOnce({dir.path() / "c.log"}), 2);

  auto ran = test::run(
      {test::cliPath(), "run", "--", "ninja", "-C", (dir.path() / "n").string(), "-j8"}, "", 20s);
  EXPECT_EQ(ran.status, 0) << ran.errors;
  EXPECT_LE(mostAtOnce({dir.path() / "n.log"}), 2);
  // The token ninja held goes back once it has ended.
  EXPECT_EQ(p.until(2, [](const PoolState& s) { return s.free == 1; }).free, 1);
}

TEST(BuildPool, CargoRunsItsBuildScriptsInThePool) {
  auto found = test::run({"/bin/sh", "-c", "command -v cargo"});
  if (found.status != 0) GTEST_SKIP() << "no cargo on PATH (Debian package cargo)";
  std::string cargo = found.out.substr(0, found.out.find('\n'));
  // The suite runs under a home of its own; rustup's toolchains are in the real one.
  const passwd* user = ::getpwuid(::getuid());
  std::string rustup = std::getenv("RUSTUP_HOME") ? std::getenv("RUSTUP_HOME")
                       : user                     ? std::string(user->pw_dir) + "/.rustup"
                                                  : "";
  Pool p;
  ASSERT_TRUE(p.pool) << p.error;
  EXPECT_EQ(p.follow(2).free, 1);
  test::TempDir dir;
  std::string members;
  for (int i = 0; i < 6; ++i) {
    auto name = "c" + std::to_string(i);
    members += "\"" + name + "\",";
    dir.write("ws/" + name + "/Cargo.toml",
              "[package]\nname = \"" + name + "\"\nversion = \"0.1.0\"\nedition = \"2021\"\n");
    dir.write("ws/" + name + "/src/lib.rs", "");
    // Each build script is one job of cargo's, run as its jobserver allows.
    dir.write("ws/" + name + "/build.rs",
              "fn main() {\n  let job = std::env::var(\"NORVO_JOB\").unwrap();\n"
              "  assert!(std::process::Command::new(\"sh\").args([\"-c\", job.as_str()]).status()"
              ".unwrap().success());\n}\n");
  }
  dir.write("ws/Cargo.toml", "[workspace]\nmembers = [" + members + "]\n");
  auto build = [&](const std::string& log, std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"/usr/bin/env", "NORVO_JOB=" + record(dir, log, 0.3), "RUSTUP_HOME=" + rustup});
    argv.insert(argv.end(), {cargo, "build", "--offline", "-j8", "--manifest-path",
                             (dir.path() / "ws/Cargo.toml").string(), "--target-dir",
                             (dir.path() / log).string() + ".target"});
    return test::run(argv, "", 60s);
  };
  auto pooled = build("pooled.log", {test::cliPath(), "run", "--"});
  ASSERT_EQ(pooled.status, 0) << pooled.errors;
  EXPECT_EQ(starts({dir.path() / "pooled.log"}).size(), 6u);
  EXPECT_LE(mostAtOnce({dir.path() / "pooled.log"}), 2);
  // Cargo's own -j8 runs more at once: the pool, not the machine, held it back.
  auto alone = build("alone.log", {});
  ASSERT_EQ(alone.status, 0) << alone.errors;
  EXPECT_GT(mostAtOnce({dir.path() / "alone.log"}), 2);
}

TEST(BuildPool, ANameSwappedWhileOpeningNeverOpensWhatTheLinkPointsAt) {
  test::FreshHome home;
  auto path = *platform::jobserverPath();
  fs::create_directory(path.parent_path());
  fs::permissions(path.parent_path(), fs::perms::owner_all);
  test::TempDir elsewhere;
  // A FIFO that passes every check if it were reached through the link.
  auto outside = elsewhere.path() / "fifo";
  ASSERT_EQ(::mkfifo(outside.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  auto decoy = path.parent_path() / "decoy";
  fs::create_symlink(outside, decoy);
  struct stat outsideSt {};
  ASSERT_EQ(::stat(outside.c_str(), &outsideSt), 0);

  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, decoy.c_str(), RENAME_EXCHANGE);
  });
  int opened = 0, refused = 0;
  for (int i = 0; i < 2000; ++i) {
    platform::JobserverFifo::Outcome outcome;
    std::string error;
    auto fifo = platform::JobserverFifo::keep(path, outcome, error);
    if (!fifo) {
      ++refused;
      continue;
    }
    ++opened;
    // No ASSERT here: returning with the swapper still running would abort the binary.
    struct stat st {};
    EXPECT_EQ(::fstat(fifo->fd(), &st), 0);
    if (st.st_dev == outsideSt.st_dev && st.st_ino == outsideSt.st_ino) {
      ADD_FAILURE() << "opened the FIFO the link points at";
      break;
    }
  }
  done = true;
  swapper.join();
  // Both sides of the race were met, or the test proved nothing.
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused, 0);
}

TEST(BuildPool, RefusesAFifoThatIsNotTheOneItWouldMake) {
  struct Case {
    std::string reason;  // after "refusing PATH: it "
    std::function<void(const fs::path&)> plant;
  };
  const fs::path outside =
      fs::temp_directory_path() / ("norvo-outside-" + std::to_string(::getpid()));
  std::vector<Case> cases = {
      {"is a symbolic link", [&](const fs::path& p) { fs::create_symlink(outside, p); }},
      {"is not a FIFO", [](const fs::path& p) { std::ofstream(p) << "+"; }},
      {"is open to other users",
       [](const fs::path& p) { ::mkfifo(p.c_str(), 0600), ::chmod(p.c_str(), 0622); }},
  };
  if (::geteuid() == 0)
    cases.push_back({"belongs to another user", [](const fs::path& p) {
                       ::mkfifo(p.c_str(), 0600), (void)::chown(p.c_str(), 65534, 65534);
                     }});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    test::FreshHome home;
    auto path = *platform::jobserverPath();
    fs::create_directory(path.parent_path());
    c.plant(path);
    std::string error;
    EXPECT_FALSE(JobserverPool::open(path, platform::Roots::system(), error));
    EXPECT_THAT(error, testing::HasSubstr("refusing " + path.string() + ": it " + c.reason));
    EXPECT_FALSE(fs::exists(outside)) << "the link was followed";
    auto ran = test::zemnorvo({"run", "--", "true"});
    EXPECT_EQ(ran.status, 0);
    EXPECT_NE(ran.errors.find(c.reason), std::string::npos) << ran.errors;
  }
}

}  // namespace
}  // namespace norvo::jobserver
