// `zemnorvo disk` as the owner runs it: the report, and the leave given and
// taken back through `disk allow` / `disk disallow`.
#include <fcntl.h>
#include <gtest/gtest.h>
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

const DiskUsage::Node* documentsIn(const DiskUsage::Report& r, const std::string& path) {
  for (const auto& c : r.root.children)
    if (c.path == path) return &c;
  return nullptr;
}

TEST(DiskCommand, ReportFollowsTheLeaveGivenAndTakenBack) {
  // A home and store of its own, so that the grants never reach the run's shared one.
  test::FreshHome own;
  const fs::path& home = own.home();
  fs::path docs = home / "Documents";
  fs::create_directories(docs);
  int fd = ::open((docs / "thesis").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::posix_fallocate(fd, 0, 3 << 20), 0);
  ::close(fd);

  auto scanHome = [&] {
    auto o = test::zemnorvo({"disk", "--json", home.string()});
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

  auto allow = test::zemnorvo({"disk", "allow"});
  EXPECT_EQ(allow.status, 0);
  EXPECT_NE(allow.out.find("-+user"), std::string::npos) << allow.out;
  auto open = scanHome();
  d = documentsIn(open, docs.string());
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->lock.has_value());
  EXPECT_GE(d->bytes, 3 << 20);

  EXPECT_EQ(test::zemnorvo({"disk", "disallow"}).status, 0);
  EXPECT_EQ(scanHome().accessKey, "-");
}

}  // namespace
}  // namespace norvo
