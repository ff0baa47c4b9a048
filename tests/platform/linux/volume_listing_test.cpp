// The volume listing must not be stopped or misled by the mounts around it:
// a dead network mount, a read-only view of a disk, a disk that hangs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/platform/system_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

struct Reads {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> asked;
  bool released = false;
  bool stuckReturned = false;
};

TEST(VolumeListing, NetworkFirstWritableMountAndADeadline) {
  test::TempDir dir;
  dir.write("proc/self/mountinfo",
            "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
            "30 26 0:50 / /mnt/nfs rw - nfs4 server:/x rw\n"
            "31 26 8:17 /home /sandbox/home ro,relatime - ext4 /dev/sdb1 ro\n"
            "32 26 8:17 / /data rw,relatime - ext4 /dev/sdb1 rw\n"
            "33 26 8:33 / /stuck-volume-listing-test rw - ext4 /dev/sdc1 rw\n"
            "34 26 8:49 / /later rw - ext4 /dev/sdd1 rw\n"
            "35 26 0:60 / /mnt/share rw - cifs //srv/x rw\n"
            "36 26 11:0 / /media/cd ro - udf /dev/sr0 ro\n"
            "37 26 8:17 / /data-again rw - ext4 /dev/sdb1 rw\n");
  auto reads = std::make_shared<Reads>();
  auto read = [reads](const std::string& path) -> std::optional<MountedVolume> {
    std::unique_lock guard(reads->lock);
    reads->asked.push_back(path);
    if (path == "/stuck-volume-listing-test") {
      reads->changed.wait(guard, [&] { return reads->released; });
      reads->stuckReturned = true;
      reads->changed.notify_all();
    }
    MountedVolume v;
    v.path = path;
    v.totalBytes = 100;
    v.availableBytes = 50;
    v.isReadOnly = false;
    return v;
  };

  auto began = std::chrono::steady_clock::now();
  auto volumes =
      system_source::mountedVolumes(Roots::under(dir.path()), read, std::chrono::milliseconds(300));
  auto took = std::chrono::steady_clock::now() - began;
  {
    std::lock_guard guard(reads->lock);
    reads->released = true;
    reads->changed.notify_all();
  }

  EXPECT_LT(took, std::chrono::seconds(2));
  ASSERT_TRUE(volumes.has_value());
  std::vector<std::string> paths;
  std::vector<bool> readOnly;
  for (const auto& v : *volumes) {
    paths.push_back(v.path);
    readOnly.push_back(v.isReadOnly.value_or(false));
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"/", "/data", "/later", "/media/cd"}));
  EXPECT_EQ(readOnly, (std::vector<bool>{false, false, false, true}));

  std::unique_lock guard(reads->lock);
  std::set<std::string> asked(reads->asked.begin(), reads->asked.end());
  for (const char* never : {"/mnt/nfs", "/mnt/share", "/sandbox/home", "/data-again"})
    EXPECT_EQ(asked.count(never), 0u) << never;
  // The stuck read finishes after the listing; wait so it does not outlive the test.
  reads->changed.wait_for(guard, std::chrono::seconds(5), [&] { return reads->stuckReturned; });
}

}  // namespace
}  // namespace norvo::platform
