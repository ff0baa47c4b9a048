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

// A group made for this test and removed after it; `dir` stays empty when the
// machine does not let this process make one.
struct QuotaGroup {
  fs::path dir;

  QuotaGroup() {
    const fs::path mount = "/sys/fs/cgroup";
    const std::string name = "norvo-quota-test-" + std::to_string(::getpid());
    std::error_code ec;
    // Unified needs the cpu controller handed down from the root; v1 has its
    // own cpu hierarchy.
    std::string handed;
    std::getline(std::ifstream(mount / "cgroup.subtree_control"), handed);
    if (handed.find("cpu") != std::string::npos)
      make(mount / name, "cpu.max", "50000 100000");
    else if (fs::exists(mount / "cpu/cpu.cfs_quota_us", ec))
      make(mount / "cpu" / name, "cpu.cfs_quota_us", "50000");
  }
  void make(const fs::path& folder, const char* file, const char* value) {
    std::error_code ec;
    if (!fs::create_directory(folder, ec)) return;
    if (std::ofstream(folder / file) << value)
      dir = folder;
    else
      fs::remove(folder, ec);
  }
  ~QuotaGroup() {
    // The child has exited, but the kernel may take a moment to let go.
    std::error_code ec;
    for (int i = 0; !dir.empty() && i < 50 && !fs::remove(dir, ec); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
};

TEST(CgroupQuota, StatusInsideAQuotaRecommendsJobsForTheQuota) {
  if (std::thread::hardware_concurrency() < 2)
    GTEST_SKIP() << "half a processor limits nothing on a one-processor machine";
  QuotaGroup group;
  if (group.dir.empty())
    GTEST_SKIP() << "cannot make a control group with a CPU quota under /sys/fs/cgroup here "
                    "(needs root, a writable mount and the cpu controller)";
  test::FreshHome home;
  // The shell joins the group, then becomes zemnorvo: only the child is held.
  auto ran = test::run({"/bin/sh", "-c", "echo $$ > \"$1/cgroup.procs\" && exec \"$2\" status",
                        "sh", group.dir.string(), test::cliPath()});
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
