#include "widget/terminal_renderer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <variant>
#include <vector>

#include "core/assess/text_format.hpp"

namespace norvo::terminal_renderer {

namespace {

using View = LoadWidgetView;

// Counted in code points: every character we print is one column wide.
size_t textWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The first `n` characters of `s`.
std::string prefix(const std::string& s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (count == n) return s.substr(0, i);
      ++count;
    }
  }
  return s;
}

std::string fit(const std::string& s, size_t n) {
  if (textWidth(s) <= n) return s;
  if (n == 0) return {};
  return prefix(s, n - 1) + "…";
}

const char* sgr(WidgetColor c) {
  switch (c) {
    case WidgetColor::primary: return "";
    case WidgetColor::secondary: return "\x1b[2m";
    case WidgetColor::tertiary: return "\x1b[2;90m";
    case WidgetColor::accent: return "\x1b[34m";
    case WidgetColor::green: return "\x1b[32m";
    case WidgetColor::yellow: return "\x1b[33m";
    case WidgetColor::orange: return "\x1b[38;5;208m";
    case WidgetColor::red: return "\x1b[31m";
    case WidgetColor::purple: return "\x1b[35m";
  }
  return "";
}

const char* glyph(WidgetSymbol s) {
  switch (s) {
    case WidgetSymbol::gauge: return "◔";
    case WidgetSymbol::heartFill: return "♥";
    case WidgetSymbol::internalDrive: return "▭";
    case WidgetSymbol::externalDrive: return "⏏";
    case WidgetSymbol::wifi: return "≈";
    case WidgetSymbol::lockShield: return "⚿";
    case WidgetSymbol::cableConnector: return "⌁";
  }
  return "?";
}

// One line built from pieces that know their colour; width is tracked apart
// from the escapes.
class Line {
 public:
  explicit Line(bool colour) : colour_(colour) {}
  Line& add(const std::string& raw, WidgetColor c = WidgetColor::primary, bool bold = false) {
    if (raw.empty()) return *this;
    auto text = text_format::printable(raw);  // app names are anyone's to choose
    std::string codes = colour_ ? std::string(sgr(c)) + (bold ? "\x1b[1m" : "") : "";
    out_ += codes + text + (codes.empty() ? "" : "\x1b[0m");
    width_ += textWidth(text);
    return *this;
  }
  Line& add(const WidgetText& t) { return add(t.text, t.color, t.semibold); }
  Line& pad(size_t to) {
    if (width_ < to) {
      out_.append(to - width_, ' ');
      width_ = to;
    }
    return *this;
  }
  Line& append(const Line& other) {
    out_ += other.out_;
    width_ += other.width_;
    return *this;
  }
  size_t width() const { return width_; }
  const std::string& text() const { return out_; }

 private:
  bool colour_;
  std::string out_;
  size_t width_ = 0;
};

class Writer {
 public:
  Writer(bool colour) : colour_(colour) {}

  Line line() const { return Line(colour_); }

  // Leading text and trailing text on one line of `w` columns; the trailing
  // one keeps its width and the leading one is cut to what is left.
  Line spread(const std::vector<WidgetText>& leading, const std::vector<WidgetText>& trailing,
              size_t w) const {
    size_t trailingW = 0;
    for (size_t i = 0; i < trailing.size(); ++i)
      trailingW += (i ? 1 : 0) + textWidth(trailing[i].text);
    trailingW = std::min(trailingW, w);
    size_t room = w > trailingW ? w - trailingW - (trailingW ? 1 : 0) : 0;
    Line l = line();
    for (size_t i = 0; i < leading.size() && l.width() < room; ++i) {
      if (i) l.add(" ");
      WidgetText t = leading[i];
      t.text = fit(t.text, room - l.width());
      l.add(t);
    }
    l.pad(w - trailingW);
    size_t used = 0;
    for (size_t i = 0; i < trailing.size(); ++i) {
      if (i) {
        l.add(" ");
        ++used;
      }
      WidgetText t = trailing[i];
      t.text = fit(t.text, trailingW - used);
      used += textWidth(t.text);
      l.add(t);
    }
    return l;
  }

  Line bar(const WidgetBar& b, size_t w) const {
    double f = std::clamp(b.fraction, 0.0, 1.0);
    auto filled = static_cast<size_t>(std::lround(f * static_cast<double>(w)));
    std::string on, off;
    for (size_t i = 0; i < w; ++i) (i < filled ? on : off) += i < filled ? "█" : "░";
    Line l = line();
    l.add(on, b.tint).add(off, WidgetColor::tertiary);
    return l;
  }

  std::vector<Line> meter(const View::Meter& m, size_t w) const {
    return {spread({m.label}, {m.value}, w), bar(m.bar, w)};
  }

  std::vector<Line> disk(const View::DiskRow& d, size_t w) const {
    WidgetText icon{glyph(d.symbol)};
    return {spread({icon, d.name}, {}, w), bar(d.bar, w), spread({d.free}, {}, w)};
  }

  std::vector<Line> rows(const View::Row& row, size_t w) const {
    return std::visit([&](const auto& r) { return rowsOf(r, w); }, row);
  }

  std::vector<Line> rowsOf(const View::Header& h, size_t w) const {
    WidgetText dot{"●", WidgetFont::caption, false, false, h.levelColor};
    WidgetText title = h.title;
    title.semibold = true;
    std::vector<WidgetText> trailing;
    if (h.health) {
      trailing = {
          {glyph(WidgetSymbol::heartFill), WidgetFont::caption, false, false, h.health->color},
          h.health->score};
    }
    return {spread({dot, title}, trailing, w)};
  }
  std::vector<Line> rowsOf(const View::ProcessorFigure& f, size_t w) const {
    WidgetText number = f.number;
    number.text += f.percentSign.text;
    std::vector<WidgetText> trailing;
    if (f.health) {
      trailing = {
          {glyph(WidgetSymbol::heartFill), WidgetFont::caption, false, false, f.health->color},
          f.health->score};
    }
    return {spread({number}, trailing, w)};
  }
  std::vector<Line> rowsOf(const View::Meter& m, size_t w) const { return meter(m, w); }
  std::vector<Line> rowsOf(const View::DiskRow& d, size_t w) const { return disk(d, w); }
  std::vector<Line> rowsOf(const View::Columns& c, size_t w) const {
    size_t gap = 4, half = (w - gap) / 2;
    std::vector<Line> left, right;
    for (size_t i = 0; i < c.meters.size(); ++i) {
      if (i) left.push_back(line());
      for (auto& l : meter(c.meters[i], half)) left.push_back(l);
    }
    for (size_t i = 0; i < c.disks.size(); ++i) {
      if (i) right.push_back(line());
      for (auto& l : disk(c.disks[i], half)) right.push_back(l);
    }
    std::vector<Line> out;
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
      Line l = line();
      if (i < left.size()) l = left[i];
      l.pad(half + gap);
      if (i < right.size()) l.append(right[i]);
      out.push_back(l);
    }
    return out;
  }
  std::vector<Line> rowsOf(const View::JobsLine& j, size_t w) const {
    return {spread({j.jobs}, {j.time}, w)};
  }
  std::vector<Line> rowsOf(const View::TimeLine& t, size_t w) const {
    return {spread({}, {t.time}, w)};
  }
  std::vector<Line> rowsOf(const View::NetworkRow& n, size_t w) const {
    std::vector<WidgetText> leading = {WidgetText{glyph(n.symbol)}, n.name};
    if (n.speed) leading.push_back(*n.speed);
    return {spread(leading, {n.rates}, w)};
  }
  std::vector<Line> rowsOf(const View::Divider&, size_t w) const {
    std::string rule;
    for (size_t i = 0; i < w; ++i) rule += "─";
    Line l = line();
    l.add(rule, WidgetColor::tertiary);
    return {l};
  }
  std::vector<Line> rowsOf(const View::Heading& h, size_t w) const {
    return {spread({h.text}, {}, w)};
  }
  std::vector<Line> rowsOf(const View::AppRow& a, size_t w) const {
    std::vector<WidgetText> leading = {a.name};
    if (a.badge) leading.push_back(*a.badge);
    return {spread(leading, {a.value}, w)};
  }

 private:
  bool colour_;
};

}  // namespace

int columns(View::Family family) { return family == View::Family::small ? 26 : 56; }

std::string render(const View& view, bool colour) {
  auto w = static_cast<size_t>(columns(view.family));
  Writer writer(colour);
  std::vector<Line> lines;
  View::Body body = view.body();
  if (body.placeholder) {
    const auto& ph = *body.placeholder;
    std::string message = fit(ph.message.text, w);
    for (const std::string& text : {std::string(glyph(ph.symbol)), message}) {
      Line l = writer.line();
      l.pad((w - textWidth(text)) / 2);
      l.add(text, WidgetColor::secondary);
      lines.push_back(l);
    }
  } else {
    for (const auto& row : body.rows)
      for (auto& l : writer.rows(row, w)) lines.push_back(l);
  }
  std::string out;
  for (auto& l : lines) {
    std::string text = l.text();
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text;
    out += '\n';
  }
  return out;
}

bool supportsColour(int fd) {
  if (std::getenv("NO_COLOR")) return false;
  const char* term = std::getenv("TERM");
  if (!term || !*term || std::strcmp(term, "dumb") == 0) return false;
  return ::isatty(fd) == 1;
}

}  // namespace norvo::terminal_renderer
