// NVIDIA's proprietary driver registers no hwmon sensor: its GPUs' temperature
// comes from NVML or not at all.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "core/platform/sensor_source.hpp"

namespace norvo::platform {
namespace {

// GPUs NVML can see on this machine; 0 without the library or a device.
unsigned nvmlDevices() {
  void* lib = ::dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return 0;
  auto init = reinterpret_cast<int (*)()>(::dlsym(lib, "nvmlInit_v2"));
  auto count = reinterpret_cast<int (*)(unsigned*)>(::dlsym(lib, "nvmlDeviceGetCount_v2"));
  unsigned n = 0;
  if (!init || !count || init() != 0 || count(&n) != 0) return 0;
  return n;
}

TEST(NvmlTemperature, EachGpuIsAGpuSensor) {
  unsigned devices = nvmlDevices();
  if (devices == 0) GTEST_SKIP() << "no NVIDIA GPU visible through NVML";
  unsigned seen = 0;
  for (const auto& r : sensor_source::temperatures(Roots::system())) {
    if (r.name.rfind("nvidia gpu", 0) != 0) continue;
    ++seen;
    EXPECT_EQ(r.role, TemperatureRole::gpu) << r.name;
    EXPECT_GT(r.celsius, 0) << r.name;
    EXPECT_LT(r.celsius, 130) << r.name;
  }
  EXPECT_EQ(seen, devices);
}

}  // namespace
}  // namespace norvo::platform
