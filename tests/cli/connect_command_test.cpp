// `zemnorvo connect`'s refusal of what is not a program, in a home of its own;
// what connecting does is integration_test's.
#include <gtest/gtest.h>

#include <cstdlib>

#include "child_process.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;

// Keeps the children's XDG configuration folder and Codex's inside the fresh
// home, so no test looks at the developer's own Claude Desktop or Codex.
struct ConfigInside {
  explicit ConfigInside(const fs::path& home) : config("XDG_CONFIG_HOME", home / ".config") {}
  test::ScopedEnv config, codex{"CODEX_HOME", std::nullopt};
};

TEST(ConnectCommand, RefusesABadExecutable) {
  test::FreshHome home;
  ConfigInside config(home.home());
  auto ran = test::zemnorvo({"connect", "--executable", home.home().string()});
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.errors.find("is not an executable file"), std::string::npos) << ran.errors;
  EXPECT_FALSE(fs::exists(home.home() / ".claude"));
}

}  // namespace
}  // namespace norvo
