// The language the owner reads. The widget and the owner's texts are Russian
// by default; an owner whose locale asks for English reads them in English.
// Agents' texts do not depend on it.
#pragma once

#include <optional>
#include <string_view>

namespace norvo::platform {

enum class Language { russian, english };

// The language of a locale given as the values of LC_ALL, LC_MESSAGES and
// LANG (absent or empty when unset). The first one set decides, as
// setlocale(3) ranks them for messages: English when it starts with "en",
// Russian for anything else, the C and POSIX locales included.
Language languageOfLocale(std::optional<std::string_view> lcAll,
                          std::optional<std::string_view> lcMessages,
                          std::optional<std::string_view> lang);

// The calling process's locale, from its environment.
Language ownerLanguage();

}  // namespace norvo::platform
