#include "core/platform/owner_language.hpp"

#include <gtest/gtest.h>

namespace norvo::platform {
namespace {

TEST(OwnerLanguage, FirstSetVariableDecides) {
  using O = std::optional<std::string_view>;
  const O unset;
  const auto en = Language::english, ru = Language::russian;
  // LC_ALL, LC_MESSAGES, LANG and the language they give.
  for (const auto& [lcAll, lcMessages, lang, expected] : std::vector<std::tuple<O, O, O, Language>>{
           {unset, unset, unset, ru},
           {unset, "en_GB.UTF-8", "ru_RU.UTF-8", en},  // messages outrank LANG
           {"C", "en_GB.UTF-8", "en_US.UTF-8", ru},    // LC_ALL outranks both
           {"", "", "en", en}})                        // empty counts as unset
    EXPECT_EQ(languageOfLocale(lcAll, lcMessages, lang), expected)
        << lcAll.value_or("-") << " " << lcMessages.value_or("-") << " " << lang.value_or("-");
}

}  // namespace
}  // namespace norvo::platform
