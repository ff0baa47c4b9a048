#include "core/platform/linux/loaded_library.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace norvo::platform {
namespace {

TEST(LoadedLibrary, FillsTypedPointersThatCallIntoTheLibrary) {
  decltype(&::getpid) pid = nullptr;
  const LibrarySymbol symbols[] = {{"getpid", &pid}};
  ASSERT_EQ(loadLibrary("libc.so.6", symbols), std::nullopt);
  ASSERT_NE(pid, nullptr);
  EXPECT_EQ(pid(), ::getpid());
}

TEST(LoadedLibrary, AMissingLibraryOrSymbolIsAnErrorNamingItAndFillsNothing) {
  struct Case {
    const char* soname;
    const char* symbol;
    const char* reason;  // what the loader's own words must name
  };
  const Case cases[] = {
      {"libnorvo-absent.so.1", "getpid", "libnorvo-absent.so.1: cannot open"},
      {"libc.so.6", "norvo_no_such_function", "undefined symbol: norvo_no_such_function"},
  };
  for (const auto& c : cases) {
    decltype(&::getpid) first = nullptr;
    decltype(&::getpid) second = nullptr;
    const LibrarySymbol symbols[] = {{"getpid", &first}, {c.symbol, &second}};
    auto error = loadLibrary(c.soname, symbols);
    ASSERT_TRUE(error) << c.soname;
    EXPECT_NE(error->find(std::string("cannot load ") + c.soname), std::string::npos) << *error;
    EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
    EXPECT_EQ(first, nullptr) << c.soname;
    EXPECT_EQ(second, nullptr) << c.soname;
  }
}

}  // namespace
}  // namespace norvo::platform
