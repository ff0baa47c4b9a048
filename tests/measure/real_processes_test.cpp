// The process table and the classifier against real processes of the shapes
// agents have on Linux; every process started here is killed and reaped by
// pid when the test ends, whatever its outcome.
#include "real_processes.hpp"

#include <gtest/gtest.h>

#include "core/measure/classifier.hpp"
#include "core/records/json_codec.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using test::childOf;
using test::copyProgram;

struct RealTable {
  test::TempDir store;
  ProcessTable table{platform::makeProcessSource(platform::Roots::system()), store.path()};
  Classifier classify(const ProcessReadings& readings) const {
    return Classifier(NorvoConfig::defaults(), readings, ::getpid(), ::getuid());
  }
};

TEST(RealProcesses, AgentCommandLinesAsInstalledOnLinux) {
  test::TempDir dir;
  test::Processes processes;
  RealTable t;
  std::map<std::string, pid_t> agents, others;
  agents["claude.exe"] =
      processes.start({"claude.exe", "600"}, copyProgram("/bin/sleep", dir.path() / "claude.exe"));
  auto versioned = copyProgram("/bin/sleep", dir.path() / "share/claude/versions/2.0.14");
  fs::create_directories(dir.path() / "bin");
  fs::create_symlink(versioned, dir.path() / "bin/claude");
  agents["linked claude"] = processes.start({"claude", "600"}, dir.path() / "bin/claude");
  others["sleep"] = processes.start({"sleep", "600"}, "/bin/sleep");

  std::optional<fs::path> node = test::findNode();
  if (node) {
    const std::string idle = "setInterval(() => {}, 1 << 30);\n";
    auto prefix = dir.path() / "prefix";
    dir.write("prefix/bin/gemini", idle);
    dir.write("prefix/bin/codex",
              "require('child_process').spawn(require('path').join(__dirname, '../vendor/codex'),"
              " ['600'], {stdio: 'ignore'});\n" +
                  idle);
    copyProgram("/bin/sleep", prefix / "vendor/codex");
    dir.write("prefix/lib/node_modules/@anthropic-ai/claude-code/cli.js", idle);
    dir.write("prefix/lib/server.js", idle);
    auto script = [&](const char* name, std::vector<std::string> more = {}) {
      std::vector<std::string> argv{"node", (prefix / name).string()};
      argv.insert(argv.end(), more.begin(), more.end());
      return processes.start(argv, *node);
    };
    agents["gemini"] = script("bin/gemini");
    agents["codex"] = script("bin/codex");
    agents["claude-code"] = script("lib/node_modules/@anthropic-ai/claude-code/cli.js");
    others["node server"] = script("lib/server.js", {"--model", "claude"});
  }
  for (const auto& [shape, pid] : agents) ASSERT_GT(pid, 0) << shape;

  auto readings = test::readUntil(t.table, [&](const ProcessReadings& r) {
    if (node && !childOf(r, agents["codex"], "codex")) return false;
    for (const auto& [shape, pid] : agents)
      if (!r.count(pid) || r.at(pid).path.empty() || r.at(pid).path == "/bin/sh") return false;
    return true;
  });
  auto c = t.classify(readings);
  for (const auto& [group, agent] : {std::pair{&agents, true}, std::pair{&others, false}})
    for (const auto& [shape, pid] : *group) {
      ASSERT_TRUE(readings.count(pid)) << shape;
      EXPECT_EQ(c.classify(readings.at(pid), {}).category == ProcessCategory::aiAgent, agent)
          << shape << "\n"
          << c.explanation(pid);
    }
  EXPECT_EQ(readings.at(agents["linked claude"]).name, "2.0.14");
  EXPECT_EQ(readings.at(agents["linked claude"]).command, "claude");
  if (!node) GTEST_SKIP() << "node is not installed: the interpreter shapes were not tried";
  auto nativeCodex = childOf(readings, agents["codex"], "codex");
  ASSERT_TRUE(nativeCodex.has_value());
  EXPECT_EQ(c.classify(readings.at(*nativeCodex), {}).category, ProcessCategory::aiAgent);
  EXPECT_EQ(readings.at(agents["gemini"]).arguments,
            "node " + (dir.path() / "prefix/bin/gemini").string());
}

TEST(RealProcesses, OwnReadingIsConsistent) {
  RealTable t;
  auto own = t.table.read(::getpid());
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(own->ppid, ::getppid());
  EXPECT_EQ(own->uid, ::getuid());
  EXPECT_EQ(own->path, fs::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(own->name, fs::path(own->path).filename().string());
  // The arguments begin with argv[0] as this program was started, which is a
  // relative path when it was started by one.
  std::string argv0 = test::readFile("/proc/self/cmdline").c_str();
  EXPECT_EQ(own->arguments.substr(0, argv0.size()), argv0) << own->arguments;
  // The start time counts clock ticks since this boot.
  auto hz = uint64_t(::sysconf(_SC_CLK_TCK));
  auto now = uint64_t(std::stod(test::readFile("/proc/uptime")) * double(hz));
  EXPECT_LE(own->startTime, now + hz);
  EXPECT_GT(own->startTime + 24 * 3600 * hz, now);  // a test run is younger than a day
  EXPECT_EQ(own->bootId + "\n", test::readFile("/proc/sys/kernel/random/boot_id"));
  ASSERT_TRUE(own->cpuNanos && own->footprintBytes);
  EXPECT_GT(*own->footprintBytes, 0u);
  auto pids = t.table.allPids();
  EXPECT_NE(std::find(pids.begin(), pids.end(), ::getpid()), pids.end());
  EXPECT_TRUE(t.table.read(std::chrono::seconds(2)).count(::getpid()));
}

TEST(RealProcesses, PsAndExplainCommands) {
  test::TempDir dir;
  test::Processes processes;
  pid_t agent =
      processes.start({"claude.exe", "600"}, copyProgram("/bin/sleep", dir.path() / "claude.exe"));
  ASSERT_GT(agent, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past exec: the copy's name

  auto explained = test::zemnorvo({"explain", std::to_string(agent)});
  EXPECT_EQ(explained.status, 0);
  const auto& text = explained.out;
  EXPECT_EQ(text.substr(0, text.find(' ')), "claude.exe") << text;
  EXPECT_NE(text.find("\n→ ai_agent; my agent: -\n"), std::string::npos) << text;
  auto unknown = test::zemnorvo({"explain", "2147483647"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");  // said on standard error

  auto listed = test::zemnorvo({"ps", "--json", "--interval", "0.1"});
  ASSERT_EQ(listed.status, 0);
  auto parsed = json_codec::decode(listed.out);
  ASSERT_TRUE(parsed && parsed->contains("processes") && parsed->contains("apps"));
  std::optional<ProcessCategory> category;
  for (const auto& p : parsed->at("processes"))
    if (p.get<ProcessSample>().pid == agent) category = p.get<ProcessSample>().category;
  EXPECT_EQ(category, ProcessCategory::aiAgent);
  auto shown = test::zemnorvo({"ps", "--interval", "0.1"});
  EXPECT_EQ(shown.status, 0);
  const auto& table = shown.out;
  EXPECT_NE(table.substr(0, table.find('\n')).find("CATEGORY"), std::string::npos) << table;
  EXPECT_NE(table.find(" ai_agent "), std::string::npos) << table;
}

}  // namespace
}  // namespace norvo
