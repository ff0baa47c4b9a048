// The user units of dist/, built into the program (see unit_templates.cpp.in)
// so that `zemnorvo service install` needs no source tree beside it.
#pragma once

#include <vector>

#include "core/desktop/user_units.hpp"

namespace norvo::cli {

std::vector<user_units::UnitFile> unitTemplates();

}  // namespace norvo::cli
