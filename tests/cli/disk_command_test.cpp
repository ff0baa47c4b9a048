// `zemnorvo disk` as the owner runs it: the report, and the leave given and
// taken back through `disk allow` / `disk disallow`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "child_process.hpp"
#include "core/disk/disk_report.hpp"
#include "core/records/json_codec.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Output {
  int status = -1;
  std::string out;
};

Output run(const std::vector<std::string>& args) {
  std::vector<std::string> all{NORVO_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  test::ChildProcess child(all);
  Output o;
  o.out = child.readRest(60s);
  auto status = child.wait(10s);
  o.status = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  return o;
}

const DiskUsage::Node* documentsIn(const DiskUsage::Report& r, const std::string& path) {
  for (const auto& c : r.root.children)
    if (c.path == path) return &c;
  return nullptr;
}

TEST(DiskCommand, ReportFollowsTheLeaveGivenAndTakenBack) {
  // A store of its own, so that the grants never reach the run's shared one.
  struct OwnStore {
    test::TempDir dir;
    std::string previous = std::getenv("XDG_DATA_HOME");
    OwnStore() { ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1); }
    ~OwnStore() { ::setenv("XDG_DATA_HOME", previous.c_str(), 1); }
  } own;
  fs::path home = std::getenv("HOME");
  fs::path docs = home / "Documents";
  fs::create_directories(docs);
  int fd = ::open((docs / "thesis").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::posix_fallocate(fd, 0, 3 << 20), 0);
  ::close(fd);

  auto scanHome = [&] {
    auto o = run({"disk", "--json", home.string()});
    EXPECT_EQ(o.status, 0);
    auto r = json_codec::decodeAs<DiskUsage::Report>(o.out);
    EXPECT_TRUE(r.has_value()) << o.out.substr(0, 200);
    return r.value_or(DiskUsage::Report{});
  };
  auto closed = scanHome();
  const auto* d = documentsIn(closed, docs.string());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->lock, DiskUsage::Lock::privacy);
  EXPECT_EQ(closed.accessKey, "-");

  auto allow = run({"disk", "allow"});
  EXPECT_EQ(allow.status, 0);
  EXPECT_NE(allow.out.find("-+user"), std::string::npos) << allow.out;
  auto open = scanHome();
  d = documentsIn(open, docs.string());
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->lock.has_value());
  EXPECT_GE(d->bytes, 3 << 20);

  EXPECT_EQ(run({"disk", "disallow"}).status, 0);
  EXPECT_EQ(scanHome().accessKey, "-");
  fs::remove_all(docs);
}

}  // namespace
}  // namespace norvo
