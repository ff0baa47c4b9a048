#include "core/platform/owner_language.hpp"

namespace norvo::platform {

Language languageOfLocale(std::optional<std::string_view> lcAll,
                          std::optional<std::string_view> lcMessages,
                          std::optional<std::string_view> lang) {
  for (const auto& value : {lcAll, lcMessages, lang}) {
    if (!value || value->empty()) continue;
    return value->starts_with("en") ? Language::english : Language::russian;
  }
  return Language::russian;
}

}  // namespace norvo::platform
