// A process is the owner's program by the path it was started under, not by
// the file its links lead to.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/platform/linux/process_parsers.hpp"

namespace norvo::platform::parse {
namespace {

using namespace std::string_literals;

// A small machine: each path that exists and the file it finally leads to.
const std::map<std::string, std::string> kFiles = {
    {"/home/u/proj/.venv/bin/python", "/usr/bin/python3.11"},
    {"/usr/bin/python3", "/usr/bin/python3.11"},
    {"/usr/bin/python3.11", "/usr/bin/python3.11"},
    {"/home/u/.local/bin/claude", "/home/u/.local/share/claude/versions/2.0.14"},
    {"/usr/bin/sh", "/usr/bin/dash"},
    {"/bin/sh", "/usr/bin/dash"},
    {"/usr/bin/bash", "/usr/bin/bash"},
    {"/home/u/proj/build/app", "/home/u/proj/build/app"},
    {"/opt/a-very-long-program-name", "/opt/a-very-long-program-name"},
};

std::optional<std::string> resolve(const std::string& path) {
  auto it = kFiles.find(path);
  if (it == kFiles.end()) return std::nullopt;
  return it->second;
}

TEST(StartedPath, ArgvZeroMadeAbsoluteAndCheckedAgainstTheKernel) {
  struct Case {
    const char* name;
    std::string cmdline, command, cwd, pathList, executable;
    std::optional<std::string> expected;
  };
  const std::string venvPath = "/home/u/proj/.venv/bin:/usr/bin:/bin";
  const Case cases[] = {
      {"virtualenv python on PATH", "python\0x.py\0"s, "python", "/home/u", venvPath,
       "/usr/bin/python3.11", "/home/u/proj/.venv/bin/python"},
      {"virtualenv python by relative path", ".venv/bin/python\0-m\0pytest\0"s, "python",
       "/home/u/proj", venvPath, "/usr/bin/python3.11", "/home/u/proj/.venv/bin/python"},
      {"native claude behind a link", "claude\0"s, "claude", "/home/u/proj",
       "/home/u/.local/bin:/usr/bin", "/home/u/.local/share/claude/versions/2.0.14",
       "/home/u/.local/bin/claude"},
      {"sh is not renamed dash", "/bin/sh\0-c\0true\0"s, "sh", "/", "", "/usr/bin/dash", "/bin/sh"},
      {"login shell", "-bash\0"s, "bash", "/home/u", "/usr/local/bin:/usr/bin", "/usr/bin/bash",
       "/usr/bin/bash"},
      {"dot segments", "./build/../build/app\0"s, "app", "/home/u/proj", "",
       "/home/u/proj/build/app", "/home/u/proj/build/app"},
      {"empty PATH entry is the working folder", "app\0"s, "app", "/home/u/proj/build", ":/usr/bin",
       "/home/u/proj/build/app", "/home/u/proj/build/app"},
      {"command name cut to 15 bytes", "/opt/a-very-long-program-name\0"s, "a-very-long-pro", "/",
       "", "/opt/a-very-long-program-name", "/opt/a-very-long-program-name"},
      {"unreadable executable: the first match on PATH", "python3\0"s, "python3", "/", "/usr/bin",
       "", "/usr/bin/python3"},
      // Not what the kernel ran: the executable stays the answer.
      {"argv rewritten", "nginx: worker process\0"s, "nginx", "/", "/usr/bin", "/usr/sbin/nginx",
       std::nullopt},
      {"shebang script", "/usr/bin/python3\0./tool.py\0"s, "tool.py", "/home/u", "/usr/bin",
       "/usr/bin/python3.11", std::nullopt},
      {"PATH changed since the start", "python\0"s, "python", "/", "/usr/bin:/bin",
       "/usr/bin/python3.11", std::nullopt},
      {"leads to another file", "sh\0"s, "sh", "/", "/usr/bin", "/usr/bin/bash", std::nullopt},
      {"relative without a working folder", "build/app\0"s, "app", "", "", "/home/u/proj/build/app",
       std::nullopt},
      {"relative PATH entry without a working folder", "app\0"s, "app", "", "build", "",
       std::nullopt},
      {"empty command line (kernel thread)", ""s, "kworker/0:1", "/", "/usr/bin", "", std::nullopt},
      {"no command name", "python\0"s, "", "/", venvPath, "/usr/bin/python3.11", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(startedPath({c.cmdline, c.command, c.cwd, c.pathList, c.executable}, resolve),
              c.expected)
        << c.name;
  }
}

TEST(StartedPath, EnvironValue) {
  const auto vars = "HOME=/home/u\0PATHX=/nope\0PATH=/a:/b\0EMPTY=\0"s;
  EXPECT_EQ(environValue(vars, "PATH"), "/a:/b");
  EXPECT_EQ(environValue(vars, "EMPTY"), "");
  EXPECT_EQ(environValue(vars, "HOME"), "/home/u");
  EXPECT_FALSE(environValue(vars, "PAT").has_value());
  EXPECT_FALSE(environValue("PATH"s, "PATH").has_value());
  EXPECT_FALSE(environValue(""s, "PATH").has_value());
}

}  // namespace
}  // namespace norvo::platform::parse
