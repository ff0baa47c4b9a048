#include "core/platform/instance_lock.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <system_error>

#include "test_support.hpp"

namespace norvo::platform {
namespace {

TEST(InstanceLock, OneHolderAtATimeAndTheNextAfterItEnds) {
  test::TempDir dir;
  auto file = dir.path() / "nested" / "watch.lock";
  auto first = std::make_unique<InstanceLock>(file);
  ASSERT_EQ(first->outcome(), InstanceLock::Outcome::acquired);

  // flock belongs to the open file, so even this process cannot take it twice.
  InstanceLock second(file);
  EXPECT_EQ(second.outcome(), InstanceLock::Outcome::heldElsewhere);
  EXPECT_EQ(second.holder(), ::getpid());

  first.reset();
  InstanceLock third(file);
  EXPECT_EQ(third.outcome(), InstanceLock::Outcome::acquired);
}

TEST(InstanceLock, GarbageInTheFileGivesNoHolderButStillLocks) {
  test::TempDir dir;
  auto file = dir.write("watch.lock", "not a pid");
  InstanceLock holder(file);
  ASSERT_EQ(holder.outcome(), InstanceLock::Outcome::acquired);
  dir.write("watch.lock", "12x\n");
  InstanceLock other(file);
  EXPECT_EQ(other.outcome(), InstanceLock::Outcome::heldElsewhere);
  EXPECT_EQ(other.holder(), std::nullopt);
}

TEST(InstanceLock, RefusesALinkPlantedInPlaceOfTheFile) {
  test::TempDir dir;
  auto target = dir.write("elsewhere", "");
  std::filesystem::create_symlink(target, dir.path() / "watch.lock");
  EXPECT_THROW(InstanceLock{dir.path() / "watch.lock"}, std::system_error);
}

}  // namespace
}  // namespace norvo::platform
