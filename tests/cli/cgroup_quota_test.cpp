// The real `zemnorvo status` started inside a group with a CPU quota of half a
// processor: the jobs it recommends fit the quota, not the host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;

bool put(const fs::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// A group made for this test and removed after it; empty when the machine
// does not let this process make one (no root, a read-only /sys/fs/cgroup, no
// cpu controller), with the reason.
struct QuotaGroup {
  fs::path dir;
  std::string whyNot;

  QuotaGroup() {
    const std::string name = "norvo-quota-test-" + std::to_string(::getpid());
    std::error_code ec;
    const fs::path mount = "/sys/fs/cgroup";
    if (::geteuid() != 0) {
      whyNot = "not root, so no control group can be made here";
      return;
    }
    if (fs::exists(mount / "cgroup.controllers", ec)) {
      // Unified: the quota needs the cpu controller handed down from the root.
      if (firstLine(mount / "cgroup.subtree_control").find("cpu") == std::string::npos) {
        whyNot = "the cpu controller is not enabled below " + mount.string();
        return;
      }
      make(mount / name, "cpu.max", "50000 100000");
      return;
    }
    for (const char* hierarchy : {"cpu,cpuacct", "cpu"}) {
      if (fs::exists(mount / hierarchy / "cpu.cfs_quota_us", ec)) {
        make(mount / hierarchy / name, "cpu.cfs_quota_us", "50000");
        return;
      }
    }
    whyNot = "no cgroup v1 cpu hierarchy and no cgroup v2 mount at " + mount.string();
  }

  void make(const fs::path& folder, const char* file, const std::string& value) {
    std::error_code ec;
    if (!fs::create_directory(folder, ec)) {
      whyNot = "cannot make " + folder.string() + ": " + ec.message();
      return;
    }
    dir = folder;
    if (!put(folder / file, value)) {
      whyNot = "cannot write " + (folder / file).string();
      dir.clear();
      fs::remove(folder, ec);
    }
  }

  ~QuotaGroup() {
    if (dir.empty()) return;
    // The child has exited, but the kernel may take a moment to let go.
    std::error_code ec;
    for (int i = 0; i < 50 && !fs::remove(dir, ec); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
};

TEST(CgroupQuota, StatusInsideAQuotaRecommendsJobsForTheQuota) {
  if (std::thread::hardware_concurrency() < 2)
    GTEST_SKIP() << "half a processor limits nothing on a one-processor machine";
  QuotaGroup group;
  if (group.dir.empty()) GTEST_SKIP() << "no CPU quota can be set up here: " << group.whyNot;
  test::FreshHome home;
  // The shell joins the group, then becomes zemnorvo, so only the child runs
  // under the quota.
  auto ran = test::run({"/bin/sh", "-c", "echo $$ > \"$1/cgroup.procs\" && exec \"$2\" status",
                        "sh", group.dir.string(), NORVO_CLI_PATH});
  ASSERT_EQ(ran.status, 0) << ran.errors;
  auto digest = nlohmann::json::parse(ran.out, nullptr, false);
  ASSERT_FALSE(digest.is_discarded()) << ran.out;
  EXPECT_EQ(digest["cpu"]["cores"], 1) << digest["cpu"];
  EXPECT_EQ(digest["cpu"]["limited_by"], "cgroup") << digest["cpu"];
  EXPECT_LE(digest["recommended_parallel_jobs"].get<int64_t>(), 1) << ran.out;
  EXPECT_LE(digest["recommended_build_threads"].get<int64_t>(), 1) << ran.out;
}

}  // namespace
}  // namespace norvo
