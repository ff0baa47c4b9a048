// `zemnorvo widget …` runs the drawing program with the same arguments, so
// that this program never loads the drawing libraries.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/drawing_program.hpp"

namespace norvo::cli {

void addWidgetForwardCommand(CLI::App& app) {
  auto* cmd =
      app.add_subcommand("widget",
                         "Draw the desktop widget from the stored record (or the no-record view); "
                         "zemnorvo widget --help lists the options");
  cmd->prefix_command();
  cmd->set_help_flag();
  cmd->callback([cmd] {
    std::string program = drawingProgram();
    std::vector<std::string> args{program, "widget"};
    for (const auto& a : cmd->remaining()) args.push_back(a);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    execv(program.c_str(), argv.data());
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(errno));
  });
}

}  // namespace norvo::cli
