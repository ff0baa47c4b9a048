#include <cstdlib>

#include "core/platform/owner_language.hpp"

namespace norvo::platform {

namespace {

std::optional<std::string_view> variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string_view(value);
}

}  // namespace

Language ownerLanguage() {
  return languageOfLocale(variable("LC_ALL"), variable("LC_MESSAGES"), variable("LANG"));
}

}  // namespace norvo::platform
