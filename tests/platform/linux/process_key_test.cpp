// A process's key must survive everything but the process itself: clock
// adjustments move /proc/stat's btime, and a key built on it lost every hung
// mark and every remembered agent when they did.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/measure/process_sample.hpp"
#include "core/platform/process_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

std::string keyOf(const test::TempDir& dir, int32_t pid) {
  auto basics = makeProcessSource(Roots::under(dir.path()))->basics(pid);
  if (!basics) return "unreadable";
  ProcessReading r;
  r.pid = basics->pid;
  r.startTime = basics->startTime;
  r.bootId = basics->bootId;
  return r.key();
}

TEST(ProcessKey, StableAcrossClockShiftsAndDistinctAcrossBoots) {
  struct Machine {
    const char* btime;
    const char* bootId;  // nullptr: the kernel gives none
  };
  const Machine machines[] = {
      {"1700000000", "6f1c2a9e-0d2b-4c55-9d0e-1b2c3d4e5f60"},
      {"1700000001", "6f1c2a9e-0d2b-4c55-9d0e-1b2c3d4e5f60"},  // NTP stepped the clock
      {"1699999990", "6f1c2a9e-0d2b-4c55-9d0e-1b2c3d4e5f60"},
      {"1700000000", "0a0b0c0d-1111-2222-3333-444455556666"},  // the next boot
      {"1700000000", nullptr},
  };
  std::vector<std::string> keys;
  for (const auto& m : machines) {
    test::TempDir dir;
    dir.write("proc/stat", std::string("cpu 1 2 3 4\nbtime ") + m.btime + "\n");
    if (m.bootId) dir.write("proc/sys/kernel/random/boot_id", std::string(m.bootId) + "\n");
    dir.write("proc/77/stat", "77 (worker) S 1 1 1 0 -1 0 0 0 0 0 150 50 0 0 20 0 1 0 987654 1 5");
    keys.push_back(keyOf(dir, 77));
  }
  EXPECT_EQ(keys[0], keys[1]);
  EXPECT_EQ(keys[0], keys[2]);
  EXPECT_NE(keys[0], keys[3]);
  EXPECT_NE(keys[0], keys[4]);
  EXPECT_NE(keys[3], keys[4]);
  for (const auto& k : keys) EXPECT_EQ(k.rfind("77:987654", 0), 0u) << k;
}

}  // namespace
}  // namespace norvo::platform
