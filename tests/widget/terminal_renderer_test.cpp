#include "widget/terminal_renderer.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

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

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

size_t columnsOf(const std::string& line) {
  size_t n = 0;
  for (unsigned char c : line)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

TEST(TerminalRenderer, PlainLinesFitTheFamilyWidth) {
  for (auto family : {Family::small, Family::medium, Family::large}) {
    for (bool withRecord : {true, false}) {
      std::optional<WidgetSnapshot> s;
      if (withRecord) s = record();
      auto text = terminal_renderer::render(LoadWidgetView{s, family}, false);
      EXPECT_EQ(text.find('\x1b'), std::string::npos);
      auto ls = lines(text);
      ASSERT_FALSE(ls.empty());
      for (const auto& l : ls)
        EXPECT_LE(columnsOf(l), static_cast<size_t>(terminal_renderer::columns(family)))
            << rawValue(family) << ": " << l;
      if (!withRecord) {
        EXPECT_NE(text.find("Откройте Zemra Norvo"), std::string::npos);
      } else {
        EXPECT_NE(text.find("Мак перегружен"), std::string::npos) << rawValue(family);
        EXPECT_NE(text.find("…"), std::string::npos) << "the long disk name is cut";
      }
    }
  }
  auto large = terminal_renderer::render(LoadWidgetView{record(), Family::large}, false);
  EXPECT_NE(large.find("claude AI"), std::string::npos) << large;
  EXPECT_NE(large.find("250%  1"), std::string::npos) << large;
  EXPECT_NE(large.find("Тяжёлые программы"), std::string::npos);
}

TEST(TerminalRenderer, ColourOnlyWhenAsked) {
  auto coloured = terminal_renderer::render(LoadWidgetView{record(), Family::large}, true);
  EXPECT_NE(coloured.find("\x1b[38;5;208m●"), std::string::npos) << "orange level dot";
  EXPECT_NE(coloured.find("\x1b[35m\x1b[1mAI"), std::string::npos) << "purple badge";
  // Without the escapes the text is the plain rendering.
  std::string stripped;
  for (size_t i = 0; i < coloured.size(); ++i) {
    if (coloured[i] == '\x1b') {
      i = coloured.find('m', i);
      continue;
    }
    stripped += coloured[i];
  }
  EXPECT_EQ(stripped, terminal_renderer::render(LoadWidgetView{record(), Family::large}, false));

  ::setenv("TERM", "xterm-256color", 1);
  ::unsetenv("NO_COLOR");
  EXPECT_FALSE(terminal_renderer::supportsColour(-1)) << "not a terminal";
  ::setenv("NO_COLOR", "1", 1);
  EXPECT_FALSE(terminal_renderer::supportsColour(-1));
  ::unsetenv("NO_COLOR");
}

}  // namespace
}  // namespace norvo
