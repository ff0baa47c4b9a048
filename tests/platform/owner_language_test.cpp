#include "core/platform/owner_language.hpp"

#include <gtest/gtest.h>

namespace norvo::platform {
namespace {

TEST(OwnerLanguage, FirstSetVariableDecides) {
  using O = std::optional<std::string_view>;
  const O unset;
  const auto en = Language::english, ru = Language::russian;
  struct Case {
    O lcAll, lcMessages, lang;
    Language expected;
  };
  for (const auto& c :
       std::vector<Case>{{unset, unset, unset, ru},
                         {unset, unset, "C.UTF-8", ru},  // anything but English
                         {unset, unset, "en_US.UTF-8", en},
                         {unset, "en_GB.UTF-8", "ru_RU.UTF-8", en},  // messages outrank LANG
                         {"C", "en_GB.UTF-8", "en_US.UTF-8", ru},    // LC_ALL outranks both
                         {"", "", "en", en}})                        // empty counts as unset
    EXPECT_EQ(languageOfLocale(c.lcAll, c.lcMessages, c.lang), c.expected)
        << c.lcAll.value_or("-") << " " << c.lcMessages.value_or("-") << " "
        << c.lang.value_or("-");
}

}  // namespace
}  // namespace norvo::platform
