#include "core/updates/self_update.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <thread>

#include "core/platform/child_process.hpp"
#include "core/updates/app_updates.hpp"
#include "test_support.hpp"
#include "updates/update_server.hpp"

namespace norvo::SelfUpdate {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Failure& e) {
    return e.message();
  }
  return "no failure";
}

TEST(SelfUpdateParse, AcceptsOnlyHttpsReleasesOnTheUpdateHost) {
  auto json = [](const char* url) {
    return nlohmann::json{{"version", "2.0"}, {"build", "7"}, {"url", url}, {"sha256", "ab"}}
        .dump();
  };
  struct Case {
    std::string data;
    bool parses;
  };
  const Case cases[] = {
      {json("https://updates.vadro.com/r/2.0.tar.gz"), true},
      {json("HTTPS://Updates.Vadro.com:443/r.tar.gz"), true},
      {json("http://updates.vadro.com/r/2.0.tar.gz"), false},
      {json("https://mirror.example.org/r/2.0.tar.gz"), false},
      {json("https://updates.vadro.com.example.org/r.tar.gz"), false},
      {json("https://updates.vadro.com@example.org/r.tar.gz"), false},
      {R"({"version":"2.0","build":"7","url":"https://updates.vadro.com/r"})", false},
      {"[1,2]", false},
      {"not json", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(parse(c.data, "updates.vadro.com").has_value(), c.parses) << c.data;

  // Where check() asks is proven against the test server by SelfUpdateSwap.
  auto settings = Settings::at("https://updates.vadro.com", "/nonexistent");
  auto fetch = [&](const std::string&) { return json("http://updates.vadro.com/r.tar.gz"); };
  EXPECT_EQ(failureOf([&] { check("1.0", "1", fetch, settings); }), kCannotParse);
}

TEST(SelfUpdateIsNewer, BuildFirstThenVersion) {
  Release r{"2.0", "20", "https://h/r", "00"};
  EXPECT_TRUE(isNewer(r, "2.0", "19"));   // same version, higher build
  EXPECT_TRUE(isNewer(r, "1.9", "21"));   // lower build, higher version
  EXPECT_FALSE(isNewer(r, "2.0", "20"));  // the same release
  EXPECT_FALSE(isNewer(r, "2.1", "21"));
  EXPECT_TRUE(isNewer(r, "1.0", ""));  // no build to compare: the version decides
}

struct Tree {
  std::string version = "0.2.0";
  std::string identifier = "com.vadro.ZemraNorvo";
  // Written aside and renamed in, so the watcher never reads a half-written file.
  std::string program =
      "#!/bin/sh\nd=\"$(dirname \"$0\")/..\"\necho \"$@\" > \"$d/relaunched.tmp\"\n"
      "mv \"$d/relaunched.tmp\" \"$d/relaunched\"\n";

  // Without a program, the tree has no bin/zemnorvo.
  nlohmann::json entries() const {
    auto list = nlohmann::json::array(
        {{{"name", "bin"}, {"dir", true}},
         {{"name", "share/zemra-norvo/manifest.json"},
          {"data", nlohmann::json{{"identifier", identifier}, {"version", version}}.dump()}}});
    if (!program.empty())
      list.push_back({{"name", "bin/zemnorvo"}, {"data", program}, {"mode", 0755}});
    return list;
  }
};

// A release on the test server and settings that trust the test authority
// and signer, with the work folder inside a scratch folder.
struct Fixture {
  test::UpdateServer server;
  test::TempDir scratch;
  Settings settings = Settings::at(server.base(), scratch.path() / "cache" / "update");

  Fixture() {
    settings.http = server.http();
    settings.publicKey = test::Keys::shared().publicKey;
  }

  Release publish(const nlohmann::json& entries) {
    auto tarball = server.root() / "r.tar.gz";
    test::makeTarball(tarball, entries);
    test::Keys::shared().sign(tarball);
    auto digest = test::tool({"openssl", "dgst", "-sha256", "-r", tarball.string()}).substr(0, 64);
    return {"0.2.0", "2", server.base() + "/r.tar.gz", digest};
  }
};

TEST(SelfUpdatePrepare, RefusesWhatIsNotTheRelease) {
  Fixture f;
  // Where "../escape" from the staged folder would land.
  auto outside = f.settings.work / "escape";
  using Entries = nlohmann::json;
  struct Case {
    const char* what;
    Tree tree;
    Entries extra;  // entries added to the tree's, if any
    std::function<void(Release&)> change;
    std::string message;
  };
  Tree good, older, other;
  older.version = "2.1";
  other.identifier = "org.example.Other";
  auto upper = [](Release& r) {
    for (auto& c : r.sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  };
  auto askFor22 = [](Release& r) { r.version = "2.2"; };
  auto elsewhere = [](Release& r) { r.url = "https://localhost:1/r.tar.gz"; };
  const std::string notOpened = "the tarball did not open";
  auto file = [](const std::string& name) { return Entries{{"name", name}, {"data", "x"}}; };
  auto link = [](const char* name, const char* to) {
    return Entries{{"name", name}, {"link", to}};
  };
  const Case cases[] = {
      {"upper-case digest", good, {}, upper, std::string(kDigestDiffers)},
      {"dot-dot entry", good, {file("../escape")}, {}, notOpened},
      {"absolute entry", good, {file(outside.string())}, {}, notOpened},
      {"link leaving", good, {link("bin/out", "../../escape")}, {}, notOpened},
      {"climb through itself", good, {link("here", "."), link("here/up", "..")}, {}, notOpened},
      {"staged version differs", older, {}, askFor22, "version is not 2.2"},
      {"another product", other, {}, {}, std::string(kNotOurs)},
      {"no program", Tree{.program = ""}, {}, {}, "no Zemra Norvo in the tarball"},
      {"another host", good, {}, elsewhere, "the release address is not on the update server"},
  };
  for (const auto& c : cases) {
    auto entries = c.tree.entries();
    for (const auto& e : c.extra) entries.push_back(e);
    auto release = f.publish(entries);
    if (c.change) c.change(release);
    auto message = failureOf([&] { prepare(release, {}, f.settings); });
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.what << ": " << message;
    EXPECT_FALSE(fs::exists(outside)) << c.what;
  }

  // Signed, but by the test's key and not the maker's compiled-in one.
  auto release = f.publish(good.entries());
  auto product = Settings::at(f.server.base(), f.settings.work);
  product.http = f.settings.http;
  EXPECT_EQ(failureOf([&] { prepare(release, {}, product); }), kBadSignature);
}

fs::path installTree(const fs::path& at, const std::string& version) {
  fs::create_directories(at / "bin");
  fs::create_directories(at / "share/zemra-norvo");
  Tree t;
  std::ofstream(at / "bin/zemnorvo") << t.program;
  fs::permissions(at / "bin/zemnorvo", fs::perms::owner_all);
  std::ofstream(at / "share/zemra-norvo/manifest.json")
      << nlohmann::json{{"identifier", t.identifier}, {"version", version}}.dump();
  return at;
}

// The pid of a process that has ended and been reaped.
int32_t endedPid() {
  test::ChildProcess child({"/bin/true"});
  int32_t pid = child.pid();  // wait() forgets it once reaped
  child.wait(std::chrono::seconds(5));
  return pid;
}

std::string versionIn(const fs::path& tree) {
  return nlohmann::json::parse(test::readFile(tree / "share/zemra-norvo/manifest.json"))["version"];
}

TEST(SelfUpdateSwap, ReplacesTheInstalledTreeAfterTheProgramQuitsAndRelaunches) {
  Fixture f;
  auto installed = installTree(f.scratch.path() / "opt" / "zemra-norvo", "0.1.0");
  auto release = f.publish(Tree{}.entries());
  f.server.put(std::string(feedPath), nlohmann::json(release).dump());

  auto found = check("0.1.0", "", AppUpdates::live(f.settings.http), f.settings);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, release);
  // The steps it reports only tell the owner how far it got.
  auto staged = prepare(*found, {}, f.settings);
  EXPECT_EQ(versionIn(staged), "0.2.0");
  EXPECT_EQ(versionIn(installed), "0.1.0");  // untouched until the swap

  // The "program" still runs for a moment: nothing moves before it ends.
  std::string error;
  auto running = platform::ChildProcess::spawn({"/bin/sleep", "0.5"}, error);
  ASSERT_TRUE(running) << error;
  swap(installed, staged, running->pid(), Relaunch::binary, f.settings);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(versionIn(installed), "0.1.0");
  while (!running->poll()) std::this_thread::sleep_for(std::chrono::milliseconds(20));

  ASSERT_TRUE(test::waitFor([&] { return fs::exists(installed / "relaunched"); }, 10s));
  EXPECT_EQ(versionIn(installed), "0.2.0");
  EXPECT_EQ(test::readFile(installed / "relaunched"), "watch\n");
  EXPECT_FALSE(fs::exists(f.settings.work / "old"));
  EXPECT_FALSE(fs::exists(staged));
}

TEST(SelfUpdateSwap, RestoresTheOldTreeWhenTheNewOneCannotMoveIn) {
  test::TempDir scratch;
  auto settings = Settings::at("https://updates.vadro.com", scratch.path() / "update");
  fs::create_directories(settings.work);
  auto installed = installTree(scratch.path() / "zemra-norvo", "0.1.0");
  // The staged tree is gone, so the second move fails; the script then puts
  // the old tree back and starts whatever is installed.
  swap(installed, scratch.path() / "update" / "new", endedPid(), Relaunch::binary, settings);
  ASSERT_TRUE(test::waitFor([&] { return fs::exists(installed / "relaunched"); }, 10s));
  EXPECT_EQ(versionIn(installed), "0.1.0");
  EXPECT_FALSE(fs::exists(settings.work / "old"));
}

TEST(SelfUpdateSwap, RefusesAnInstallFolderItCannotWrite) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  test::TempDir scratch;
  auto settings = Settings::at("https://updates.vadro.com", scratch.path() / "update");
  auto folder = scratch.path() / "locked";
  auto installed = installTree(folder / "zemra-norvo", "0.1.0");
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  auto message =
      failureOf([&] { swap(installed, scratch.path(), endedPid(), Relaunch::none, settings); });
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(message, folder.string() + std::string(kNotWritable));
  EXPECT_EQ(versionIn(installed), "0.1.0");
}

}  // namespace
}  // namespace norvo::SelfUpdate
