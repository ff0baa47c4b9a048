// Performance and efficiency cores on machines that are not hybrid Intel:
// the scheduler's cpu_capacity tells them apart.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "core/platform/system_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

TEST(CoreKinds, SplitByCpuCapacity) {
  struct Case {
    const char* name;
    const char* online;
    std::map<int, const char*> capacity;  // cpu → cpu_capacity text
    const char* pmuCore;                  // hybrid Intel's lists, when present
    const char* pmuAtom;
    std::optional<int64_t> performance, efficiency;
  };
  const Case cases[] = {
      {"Apple silicon: four of each",
       "0-7\n",
       {{0, "459"},
        {1, "459"},
        {2, "459"},
        {3, "459"},
        {4, "1024"},
        {5, "1024"},
        {6, "1024"},
        {7, "1024"}},
       nullptr,
       nullptr,
       4,
       4},
      {"prime, big and little: only the little are efficiency",
       "0-7\n",
       {{0, "256"},
        {1, "256"},
        {2, "256"},
        {3, "256"},
        {4, "870"},
        {5, "870"},
        {6, "870"},
        {7, "1024"}},
       nullptr,
       nullptr,
       4,
       4},
      {"one capacity: no levels",
       "0-3\n",
       {{0, "1024"}, {1, "1024"}, {2, "1024"}, {3, "1024"}},
       nullptr,
       nullptr,
       std::nullopt,
       std::nullopt},
      {"a processor without capacity: no levels",
       "0-2\n",
       {{0, "400"}, {1, "1024"}},
       nullptr,
       nullptr,
       std::nullopt,
       std::nullopt},
      {"unreadable capacity: no levels",
       "0-1\n",
       {{0, "x"}, {1, "1024"}},
       nullptr,
       nullptr,
       std::nullopt,
       std::nullopt},
      {"offline processors are not counted",
       "0,2-3\n",
       {{0, "512"}, {1, "512"}, {2, "1024"}, {3, "1024"}},
       nullptr,
       nullptr,
       2,
       1},
      {"hybrid Intel's lists win", "0-11\n", {{0, "1024"}, {1, "1024"}}, "0-3\n", "4-11\n", 4, 8},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    dir.write("sys/devices/system/cpu/online", c.online);
    for (const auto& [cpu, text] : c.capacity)
      dir.write("sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpu_capacity", text);
    if (c.pmuCore) dir.write("sys/devices/cpu_core/cpus", c.pmuCore);
    if (c.pmuAtom) dir.write("sys/devices/cpu_atom/cpus", c.pmuAtom);
    auto levels = system_source::performanceLevels(Roots::under(dir.path()));
    EXPECT_EQ(levels.performance, c.performance) << c.name;
    EXPECT_EQ(levels.efficiency, c.efficiency) << c.name;
  }
}

}  // namespace
}  // namespace norvo::platform
