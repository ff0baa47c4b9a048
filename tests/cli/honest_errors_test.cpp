// The command line says what failed and why, and makes no folder it was not
// asked to make.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "child_process.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Outcome {
  int status = -1;
  std::string errors;
};

Outcome run(const std::vector<std::string>& args) {
  test::ChildProcess child(args);
  child.closeStdin();
  child.readRest(30s);
  Outcome out;
  out.errors = child.readErrors(30s);
  auto status = child.wait(30s);
  if (status && WIFEXITED(*status)) out.status = WEXITSTATUS(*status);
  return out;
}

TEST(HonestErrors, UnwritablePlacesAreNamedWithTheirReason) {
  test::TempDir dir;
  auto missing = dir.path() / "no-such-folder" / "widget.txt";
  auto widget = run({NORVO_CLI_PATH, "widget", "--format", "text", "--out", missing.string()});
  EXPECT_EQ(widget.status, 1);
  EXPECT_NE(widget.errors.find("cannot write " + missing.string() + ": No such file or directory"),
            std::string::npos)
      << widget.errors;
  EXPECT_FALSE(fs::exists(missing.parent_path()));

  auto file = dir.write("data", "");
  auto watch =
      run({"/usr/bin/env", "XDG_DATA_HOME=" + file.string(), NORVO_CLI_PATH, "watch", "--once"});
  EXPECT_EQ(watch.status, 1);
  EXPECT_NE(watch.errors.find("cannot create " + (file / "ZemraNorvo").string()), std::string::npos)
      << watch.errors;
  EXPECT_NE(watch.errors.find("Not a directory"), std::string::npos) << watch.errors;
}

}  // namespace
}  // namespace norvo
