// The owner's texts of the desktop companion and the status bars, in the
// two languages the product speaks to the owner. Agents never read them.
#pragma once

#include <string>

#include "core/assess/assessment.hpp"
#include "core/platform/owner_language.hpp"

namespace norvo::desktop_texts {

// The level in a word or two, short enough for a status bar.
std::string levelWord(LoadLevel level, platform::Language language);

}  // namespace norvo::desktop_texts
