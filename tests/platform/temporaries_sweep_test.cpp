// Temporaries of writers that died are swept; a live writer's are not.
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/platform/record_file.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

TEST(TemporariesSweep, RemovesOnlyWhatDeadWritersLeft) {
  test::TempDir dir;
  // pid 2^22 + 1 is above the kernel's largest pid, so no process has it.
  auto dead = dir.write(".status.json.tmp.4194305.0.1", "{");
  auto live = dir.write(".status.json.tmp." + std::to_string(::getpid()) + ".0.1", "{");
  auto record = dir.write("status.json", "{}");
  auto hidden = dir.write(".hidden", "x");
  EXPECT_EQ(record_file::sweepStaleTemporaries(dir.path()), 1);
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_TRUE(std::filesystem::exists(live));
  EXPECT_TRUE(std::filesystem::exists(record));
  EXPECT_TRUE(std::filesystem::exists(hidden));
}

}  // namespace
}  // namespace norvo
