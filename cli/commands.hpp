// Each command of `zemnorvo` registers itself on the application here. The
// commands stay thin: parse arguments, call the library, print.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "core/platform/instance_lock.hpp"

namespace norvo::cli {

void addMetricsCommand(CLI::App& app);
void addStatusCommands(CLI::App& app);
void addSensorsCommand(CLI::App& app);
void addWidgetCommand(CLI::App& app);         // in zemnorvo-draw
void addWidgetForwardCommand(CLI::App& app);  // in zemnorvo: runs zemnorvo-draw
void addMcpCommand(CLI::App& app);
void addHookCommand(CLI::App& app);
void addPsCommand(CLI::App& app);  // ps and explain
void addOwnerCommands(CLI::App& app);
void addWatchCommand(CLI::App& app);
void addConfigCommand(CLI::App& app);
void addUninstallCommands(CLI::App& app);  // apps and uninstall
void addDiskCommand(CLI::App& app);
void addCleanupCommand(CLI::App& app);   // cleanup and cleanup run
void addFansCommands(CLI::App& app);     // fans, fans set and fan-helper
void addUpdatesCommands(CLI::App& app);  // updates and self-update
void addConnectCommands(CLI::App& app);  // connect and disconnect
void addRunCommand(CLI::App& app);       // a build inside the build-token pool
// `zemnorvo run ARGS…` with everything after "run"; the exit status (on
// success the build replaces this process).
int runCommand(const std::vector<std::string>& args);
void addServiceCommands(CLI::App& app);  // service install, uninstall and status
void addDesktopCommand(CLI::App& app);

// The loop and the desktop companion run once per user: unless `lock` was
// acquired, names the holder on standard error and ends with status 1.
void refuseSecondInstance(const platform::InstanceLock& lock, const char* command);

}  // namespace norvo::cli
