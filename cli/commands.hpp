// Each command of `zemnorvo` registers itself on the application here. The
// commands stay thin: parse arguments, call the library, print.
#pragma once

#include <CLI/CLI.hpp>

namespace norvo::cli {

void addMetricsCommand(CLI::App& app);
void addPsCommand(CLI::App& app);  // ps and explain
void addOwnerCommands(CLI::App& app);

}  // namespace norvo::cli
