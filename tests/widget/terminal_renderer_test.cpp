#include "widget/terminal_renderer.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "test_support.hpp"

namespace norvo {
namespace {

using Family = LoadWidgetView::Family;

WidgetSnapshot record() {
  WidgetSnapshot s;
  s.level = LoadLevel::overloaded;
  s.health = 80;
  s.cpu = 0.5;
  s.memoryUsed = 4ull << 30;
  s.memoryTotal = 8ull << 30;
  s.disks = {{"Очень длинное имя внешнего диска для проверки", 1, 2, false}, {"b", 1, 2, true}};
  s.apps = {{"claude", "/opt/claude", 250, 1ull << 30, true}};
  return s;
}

TEST(TerminalRenderer, PlainLinesFitTheFamilyWidth) {
  for (auto family : {Family::small, Family::medium, Family::large})
    for (bool withRecord : {true, false}) {
      auto text = terminal_renderer::render(
          LoadWidgetView{withRecord ? std::optional(record()) : std::nullopt, family}, false);
      EXPECT_EQ(text.find('\x1b'), std::string::npos);
      std::istringstream in(text);
      for (std::string l; std::getline(in, l);) {
        size_t columns = 0;  // characters, not UTF-8 continuation bytes
        for (unsigned char c : l) columns += (c & 0xC0) != 0x80;
        EXPECT_LE(columns, static_cast<size_t>(terminal_renderer::columns(family)))
            << rawValue(family) << ": " << l;
      }
      for (const char* shown : withRecord ? std::vector<const char*>{"Компьютер перегружен", "…"}
                                          : std::vector<const char*>{"Откройте Zemra Norvo"})
        EXPECT_NE(text.find(shown), std::string::npos) << rawValue(family) << ": " << shown;
    }
}

TEST(TerminalRenderer, ColourOnlyWhenAskedAndOnATerminal) {
  auto coloured = terminal_renderer::render(LoadWidgetView{record(), Family::large}, true);
  // Coloured, and without the escapes the text is the plain rendering.
  EXPECT_NE(coloured.find('\x1b'), std::string::npos);
  std::string stripped;
  for (size_t i = 0; i < coloured.size(); ++i)
    if (coloured[i] == '\x1b')
      i = coloured.find('m', i);
    else
      stripped += coloured[i];
  EXPECT_EQ(stripped, terminal_renderer::render(LoadWidgetView{record(), Family::large}, false));

  // A colour terminal type alone is not enough: the output must be a terminal.
  test::ScopedEnv term("TERM", "xterm-256color");
  EXPECT_FALSE(terminal_renderer::supportsColour(-1));
}

}  // namespace
}  // namespace norvo
