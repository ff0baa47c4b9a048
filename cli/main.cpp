#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.hpp"

int main(int argc, char** argv) {
  CLI::App app{"Zemra Norvo: how loaded this computer is, for its owner and the AI agents on it",
               "zemnorvo"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("zemnorvo ") + NORVO_VERSION);
  norvo::cli::addStatusCommands(app);
  norvo::cli::addMetricsCommand(app);
  norvo::cli::addSensorsCommand(app);
  norvo::cli::addWidgetForwardCommand(app);
  norvo::cli::addMcpCommand(app);
  norvo::cli::addHookCommand(app);
  norvo::cli::addPsCommand(app);
  norvo::cli::addOwnerCommands(app);
  norvo::cli::addWatchCommand(app);
  norvo::cli::addConfigCommand(app);
  norvo::cli::addUninstallCommands(app);
  norvo::cli::addDiskCommand(app);
  norvo::cli::addCleanupCommand(app);
  norvo::cli::addFansCommands(app);
  norvo::cli::addUpdatesCommands(app);
  norvo::cli::addConnectCommands(app);
  norvo::cli::addRunCommand(app);
  norvo::cli::addServiceCommands(app);
  norvo::cli::addDesktopCommand(app);
  // Everything after `run`, "--" and the build's own flags included, is the
  // build's; CLI11 would read a "--" as its own.
  if (argc > 2 && std::string(argv[1]) == "run" && std::string(argv[2]) != "--help")
    return norvo::cli::runCommand({argv + 2, argv + argc});
  // CLI11 reports a mistyped command as a missing one; name it instead.
  if (argc > 1 && argv[1][0] != '-') {
    try {
      app.get_subcommand(argv[1]);
    } catch (const CLI::OptionNotFound&) {
      std::fprintf(stderr,
                   "zemnorvo: unknown command '%s'\nRun zemnorvo --help for the commands.\n",
                   argv[1]);
      return 2;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a command that already said why it failed
  } catch (const CLI::ParseError& e) {
    // Usage errors (an unknown command or flag, a missing argument) exit 2,
    // as shells and scripts expect, not with CLI11's own codes.
    return app.exit(e) == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo: %s\n", e.what());
    return 1;
  }
  return 0;
}
