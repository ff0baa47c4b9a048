#include "core/desktop/desktop_texts.hpp"

namespace norvo::desktop_texts {

namespace {
bool english(platform::Language language) { return language == platform::Language::english; }
}  // namespace

std::string levelWord(LoadLevel level, platform::Language language) {
  switch (level) {
    case LoadLevel::ok: return english(language) ? "ok" : "норма";
    case LoadLevel::busy: return english(language) ? "busy" : "занят";
    case LoadLevel::overloaded: return english(language) ? "overloaded" : "перегружен";
    case LoadLevel::critical: return english(language) ? "critical" : "критично";
  }
  return {};
}

}  // namespace norvo::desktop_texts
