#include "core/desktop/status_bar.hpp"

#include <algorithm>
#include <cmath>

#include "core/assess/compact.hpp"
#include "core/desktop/desktop_texts.hpp"

namespace norvo::status_bar {

std::string_view levelColour(LoadLevel level) {
  switch (level) {
    case LoadLevel::ok: return "#32D74B";
    case LoadLevel::busy: return "#FFD60A";
    case LoadLevel::overloaded: return "#FF9F0A";
    case LoadLevel::critical: return "#FF453A";
  }
  return "#FFFFFF";
}

std::optional<Format> formatFromName(std::string_view name) {
  if (name == "waybar") return Format::waybar;
  if (name == "i3blocks") return Format::i3blocks;
  if (name == "text") return Format::text;
  return std::nullopt;
}

int cpuPercent(const NorvoSnapshot& snapshot) {
  double usage = snapshot.metrics.cpu.usage;
  if (!std::isfinite(usage)) return 0;
  return static_cast<int>(std::lround(std::clamp(usage, 0.0, 1.0) * 100));
}

std::string text(const NorvoSnapshot& snapshot, platform::Language language) {
  bool en = language == platform::Language::english;
  return desktop_texts::levelWord(snapshot.assessment.level, language) +
         (en ? " · CPU " : " · ЦП ") + std::to_string(cpuPercent(snapshot)) + "%";
}

std::string render(Format format, const NorvoSnapshot& snapshot, platform::Language language,
                   bool persistent) {
  switch (format) {
    case Format::waybar: {
      nlohmann::json module = {{"text", text(snapshot, language)},
                               {"tooltip", Compact::line(snapshot)},
                               {"class", rawValue(snapshot.assessment.level)},
                               {"percentage", cpuPercent(snapshot)}};
      // Compact::json never puts a line feed inside a one-line object, and
      // replaces invalid UTF-8 rather than failing.
      return Compact::json(module);
    }
    case Format::i3blocks:
      if (persistent) return text(snapshot, language);
      return text(snapshot, language) + "\n" + std::to_string(cpuPercent(snapshot)) + "%\n" +
             std::string(levelColour(snapshot.assessment.level));
    case Format::text: return text(snapshot, language);
  }
  return {};
}

}  // namespace norvo::status_bar
