#include "core/platform/instance_lock.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <system_error>

#include "test_support.hpp"

namespace norvo::platform {
namespace {

TEST(InstanceLock, OneHolderAtATime) {
  test::TempDir dir;
  auto file = dir.write("nested/watch.lock", "not a pid, left by an older holder");
  InstanceLock first(file);
  ASSERT_EQ(first.outcome(), InstanceLock::Outcome::acquired);
  // flock belongs to the open file, so even this process cannot take it twice.
  InstanceLock second(file);
  EXPECT_EQ(second.outcome(), InstanceLock::Outcome::heldElsewhere);
  EXPECT_EQ(second.holder(), ::getpid());
  dir.write("nested/watch.lock", "12x\n");
  EXPECT_EQ(second.holder(), std::nullopt);
  // The next holder after this one ends: the watch command's end-to-end test.
}

TEST(InstanceLock, RefusesALinkPlantedInPlaceOfTheFile) {
  test::TempDir dir;
  std::filesystem::create_symlink(dir.write("elsewhere", ""), dir.path() / "watch.lock");
  EXPECT_THROW(InstanceLock{dir.path() / "watch.lock"}, std::system_error);
}

}  // namespace
}  // namespace norvo::platform
