// The status bars' forms from plain snapshots: what waybar, i3blocks and
// polybar parse must hold for every level and any CPU reading.
#include "core/desktop/status_bar.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace norvo {
namespace {

using platform::Language;

NorvoSnapshot snapshotAt(LoadLevel level, double usage) {
  NorvoSnapshot s;
  s.assessment.level = level;
  s.metrics.cpu.usage = usage;
  return s;
}

TEST(StatusBar, EveryFormHoldsWhatItsBarParses) {
  struct Case {
    LoadLevel level;
    double usage;
    int percent;
  };
  const Case cases[] = {{LoadLevel::ok, 0.0, 0},           {LoadLevel::busy, 0.126, 13},
                        {LoadLevel::overloaded, 1.7, 100}, {LoadLevel::critical, -0.2, 0},
                        {LoadLevel::critical, NAN, 0},     {LoadLevel::busy, 0.5, 50}};
  std::set<std::string> colours;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(rawValue(c.level)) + " " + std::to_string(c.usage));
    auto snapshot = snapshotAt(c.level, c.usage);
    auto waybar = status_bar::render(status_bar::Format::waybar, snapshot, Language::english);
    EXPECT_EQ(waybar.find('\n'), std::string::npos) << "waybar reads one object per line";
    auto module = nlohmann::json::parse(waybar);
    EXPECT_EQ(module.at("class"), rawValue(c.level));
    EXPECT_EQ(module.at("percentage"), c.percent);
    EXPECT_NE(module.at("text").get<std::string>().find(std::to_string(c.percent) + "%"),
              std::string::npos);

    auto blocks = status_bar::render(status_bar::Format::i3blocks, snapshot, Language::russian);
    auto first = blocks.find('\n'), second = blocks.find('\n', first + 1);
    ASSERT_NE(second, std::string::npos) << blocks;
    EXPECT_EQ(blocks.find('\n', second + 1), std::string::npos) << blocks;
    EXPECT_EQ(blocks.substr(0, first), status_bar::text(snapshot, Language::russian));
    EXPECT_EQ(blocks.substr(first + 1, second - first - 1), std::to_string(c.percent) + "%");
    EXPECT_EQ(blocks[second + 1], '#');
    colours.insert(blocks.substr(second + 1) + std::string(rawValue(c.level)));
    // In persist mode every line is a new full text.
    EXPECT_EQ(status_bar::render(status_bar::Format::i3blocks, snapshot, Language::russian, true),
              blocks.substr(0, first));
  }
  std::set<std::string> perLevel;
  for (const auto& c : colours) perLevel.insert(c.substr(0, 7));
  EXPECT_EQ(perLevel.size(), 4u) << "each level has a colour of its own";
}

}  // namespace
}  // namespace norvo
