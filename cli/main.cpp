#include <cstdio>
#include <exception>

#include "cli/commands.hpp"

int main(int argc, char** argv) {
  CLI::App app{"Zemra Norvo: how loaded this computer is, for its owner and the AI agents on it",
               "zemnorvo"};
  app.require_subcommand(1);
  norvo::cli::addStatusCommands(app);
  norvo::cli::addMetricsCommand(app);
  norvo::cli::addSensorsCommand(app);
  norvo::cli::addWidgetForwardCommand(app);
  norvo::cli::addMcpCommand(app);
  norvo::cli::addHookCommand(app);
  norvo::cli::addPsCommand(app);
  norvo::cli::addOwnerCommands(app);
  norvo::cli::addWatchCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo: %s\n", e.what());
    return 1;
  }
  return 0;
}
