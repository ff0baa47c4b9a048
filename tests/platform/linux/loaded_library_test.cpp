#include "core/platform/linux/loaded_library.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace norvo::platform {
namespace {

TEST(LoadedLibrary, AMissingLibraryOrSymbolIsAnErrorNamingItAndFillsNothing) {
  // The library, the symbol asked for, and what the loader's own words must name.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"libnorvo-absent.so.1", "getpid", "libnorvo-absent.so.1: cannot open"},
      {"libc.so.6", "norvo_no_such_function", "undefined symbol: norvo_no_such_function"},
  };
  for (const auto& [soname, symbol, reason] : cases) {
    decltype(&::getpid) first = nullptr;
    decltype(&::getpid) second = nullptr;
    const LibrarySymbol symbols[] = {{"getpid", &first}, {symbol, &second}};
    auto error = loadLibrary(soname, symbols);
    ASSERT_TRUE(error) << soname;
    EXPECT_NE(error->find(std::string("cannot load ") + soname), std::string::npos) << *error;
    EXPECT_NE(error->find(reason), std::string::npos) << *error;
    EXPECT_TRUE(first == nullptr && second == nullptr) << soname;
  }
}

}  // namespace
}  // namespace norvo::platform
