#include <cstdio>
#include <exception>

#include "cli/commands.hpp"

// Only read under LeakSanitizer: fontconfig (behind the widget images) keeps
// process-long caches that it never frees by design.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
  CLI::App app{"Zemra Norvo: how loaded this computer is, for its owner and the AI agents on it",
               "zemnorvo"};
  app.require_subcommand(1);
  norvo::cli::addStatusCommands(app);
  norvo::cli::addMetricsCommand(app);
  norvo::cli::addSensorsCommand(app);
  norvo::cli::addWidgetCommand(app);
  norvo::cli::addMcpCommand(app);
  norvo::cli::addHookCommand(app);
  norvo::cli::addPsCommand(app);
  norvo::cli::addOwnerCommands(app);
  norvo::cli::addWatchCommand(app);
  norvo::cli::addDiskCommand(app);
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
