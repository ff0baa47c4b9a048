// The status bars' forms from plain snapshots: what waybar, i3blocks and
// polybar parse must hold for every level and any CPU reading.
#include "core/desktop/status_bar.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace norvo {
namespace {

using platform::Language;

TEST(StatusBar, EveryFormHoldsWhatItsBarParses) {
  const std::tuple<LoadLevel, double, int> cases[] = {{LoadLevel::ok, 0.0, 0},
                                                      {LoadLevel::busy, 0.126, 13},
                                                      {LoadLevel::overloaded, 1.7, 100},
                                                      {LoadLevel::critical, -0.2, 0},
                                                      {LoadLevel::critical, NAN, 0}};
  std::set<std::string> colours;
  for (auto [level, usage, percent] : cases) {
    SCOPED_TRACE(std::string(rawValue(level)) + " " + std::to_string(usage));
    NorvoSnapshot snapshot;
    snapshot.assessment.level = level;
    snapshot.metrics.cpu.usage = usage;
    // One object per line, as the status bar watch test reads it.
    auto module = nlohmann::json::parse(
        status_bar::render(status_bar::Format::waybar, snapshot, Language::english));
    EXPECT_EQ(module.at("class"), rawValue(level));
    EXPECT_EQ(module.at("percentage"), percent);

    // Full text, short text, then the colour as "#RRGGBB"; in persist mode
    // every line is a new full text.
    auto blocks = status_bar::render(status_bar::Format::i3blocks, snapshot, Language::russian);
    auto text = status_bar::text(snapshot, Language::russian);
    auto head = text + "\n" + std::to_string(percent) + "%\n#";
    ASSERT_TRUE(blocks.starts_with(head) && blocks.size() == head.size() + 6) << blocks;
    colours.insert(blocks.substr(head.size()));
    EXPECT_EQ(status_bar::render(status_bar::Format::i3blocks, snapshot, Language::russian, true),
              text);
  }
  EXPECT_EQ(colours.size(), 4u) << "each level has one colour of its own";
}

}  // namespace
}  // namespace norvo
