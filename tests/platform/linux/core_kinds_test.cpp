// Performance and efficiency cores on machines that are not hybrid Intel:
// the scheduler's cpu_capacity tells them apart.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/platform/system_source.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

std::vector<const char*> operator+(std::vector<const char*> a, const std::vector<const char*>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CoreKinds, SplitByCpuCapacity) {
  struct Case {
    const char* name;
    const char* online;
    std::vector<const char*> capacity;  // cpu_capacity of cpu0, cpu1, …; later ones have none
    const char* hybridCore;             // hybrid Intel's lists, when present
    const char* hybridAtom;
    std::optional<int64_t> performance, efficiency;
  };
  using V = std::vector<const char*>;
  const auto none = std::nullopt;
  const Case cases[] = {
      {"Apple silicon", "0-7\n", V(4, "459") + V(4, "1024"), nullptr, nullptr, 4, 4},
      {"prime, big and little: the little are efficiency", "0-7\n",
       V(4, "256") + V(3, "870") + V(1, "1024"), nullptr, nullptr, 4, 4},
      {"one capacity", "0-3\n", V(4, "1024"), nullptr, nullptr, none, none},
      {"a processor without capacity", "0-2\n", {"400", "1024"}, nullptr, nullptr, none, none},
      {"unreadable capacity", "0-1\n", {"x", "1024"}, nullptr, nullptr, none, none},
      {"offline processors are not counted",
       "0,2-3\n",
       {"512", "512", "1024", "1024"},
       nullptr,
       nullptr,
       2,
       1},
      {"hybrid Intel's lists win", "0-11\n", {"1024", "1024"}, "0-3\n", "4-11\n", 4, 8},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    dir.write("sys/devices/system/cpu/online", c.online);
    for (size_t cpu = 0; cpu < c.capacity.size(); ++cpu)
      dir.write("sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpu_capacity",
                c.capacity[cpu]);
    if (c.hybridCore) dir.write("sys/devices/cpu_core/cpus", c.hybridCore);
    if (c.hybridAtom) dir.write("sys/devices/cpu_atom/cpus", c.hybridAtom);
    auto levels = system_source::performanceLevels(Roots::under(dir.path()));
    EXPECT_EQ(levels.performance, c.performance) << c.name;
    EXPECT_EQ(levels.efficiency, c.efficiency) << c.name;
  }
}

}  // namespace
}  // namespace norvo::platform
