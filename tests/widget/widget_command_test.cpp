#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/commands.hpp"
#include "core/store/widget_snapshot.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

// Runs `zemnorvo widget …` in-process, as main() would.
void runWidget(std::vector<std::string> args) {
  CLI::App app;
  app.require_subcommand(1);
  cli::addWidgetCommand(app);
  args.insert(args.begin(), "widget");
  std::reverse(args.begin(), args.end());  // CLI11 takes the arguments reversed
  app.parse(args);
}

TEST(WidgetCommand, DrawsTheStoredRecordOrTheNoRecordView) {
  test::TempDir dir;
  auto text = dir.path() / "w.txt", png = dir.path() / "w.png", svg = dir.path() / "w.svg";
  std::filesystem::remove(*WidgetSnapshot::url());
  runWidget({"--family", "small", "--format", "text", "--out", text.string()});
  EXPECT_NE(test::readFile(text).find("Откройте Zemra Norvo"), std::string::npos);

  WidgetSnapshot s;
  s.level = LoadLevel::critical;
  s.memoryTotal = 1;
  s.save();
  runWidget({"--family", "large", "--format", "text", "--out", text.string()});
  auto drawn = test::readFile(text);
  EXPECT_NE(drawn.find("Критическая нагрузка"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.find('\x1b'), std::string::npos) << "no colour into a file";
  runWidget(
      {"--family", "medium", "--format", "png", "--appearance", "dark", "--out", png.string()});
  EXPECT_EQ(test::readFile(png).substr(1, 3), "PNG");
  runWidget({"--family", "small", "--format", "svg", "--out", svg.string()});
  EXPECT_NE(test::readFile(svg).find("width=\"170"), std::string::npos);
  // An owner whose locale asks for English reads it in English, units and all.
  s.memoryUsed = 3ull << 29;
  s.memoryTotal = 4ull << 30;
  s.save();
  ::setenv("LC_ALL", "en_GB.UTF-8", 1);
  runWidget({"--family", "small", "--format", "text", "--out", text.string()});
  ::setenv("LC_ALL", "C.UTF-8", 1);
  drawn = test::readFile(text);
  for (const char* english : {"Critical load", "Memory", "1.5\u00a0GiB / 4\u00a0GiB"})
    EXPECT_NE(drawn.find(english), std::string::npos) << english << " in " << drawn;
  EXPECT_THROW(runWidget({"--family", "huge"}), CLI::ValidationError);
  EXPECT_THROW(runWidget({"--format", "gif"}), CLI::ValidationError);
  std::filesystem::remove(*WidgetSnapshot::url());
}

}  // namespace
}  // namespace norvo
