#include <gtest/gtest.h>

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
  EXPECT_THROW(runWidget({"--family", "huge"}), CLI::ValidationError);
  EXPECT_THROW(runWidget({"--format", "gif"}), CLI::ValidationError);
  std::filesystem::remove(*WidgetSnapshot::url());
}

}  // namespace
}  // namespace norvo
