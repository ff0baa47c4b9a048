// `zemnorvo service install|uninstall|status`: the user units that run the
// measuring loop whenever the owner is logged in and the desktop companion
// with the graphical session, written with this program's real path and
// handed to systemd's user manager. Where there is no
// user manager (a container, a session without systemd) the command says so
// and what to run instead; it never claims a service it could not start.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/unit_templates.hpp"
#include "core/platform/child_process.hpp"
#include "core/platform/record_file.hpp"
#include "core/platform/store_directory.hpp"
#include "core/platform/tool_run.hpp"

namespace norvo::cli {

namespace {

namespace fs = std::filesystem;

// A user manager answers in milliseconds; a hung one must not hang us.
constexpr std::chrono::seconds kSystemctlLimit{30};

fs::path unitFolder() { return NorvoStore::configDirectory().parent_path() / "systemd" / "user"; }

std::vector<std::string> unitNames() {
  std::vector<std::string> names;
  for (const auto& unit : unitTemplates()) names.push_back(unit.name);
  return names;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Runs `systemctl --user ARGS`; on failure `problem` says what and why.
platform::ToolRun systemctl(const std::vector<std::string>& args, std::string& problem) {
  std::vector<std::string> argv{"systemctl", "--user"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto run = platform::runTool(argv, {}, kSystemctlLimit, 16 * 1024);
  std::string command;
  for (const auto& a : argv) command += (command.empty() ? "" : " ") + a;
  if (!run.started)
    problem = command + ": " + run.error;
  else if (run.timedOut)
    problem = command + " did not answer within 30 s";
  else if (run.exitStatus != 0)
    problem =
        command + " failed (status " + std::to_string(run.exitStatus) + "): " + trimmed(run.output);
  return run;
}

void sayNoManager(const std::string& problem) {
  std::fprintf(stderr,
               "zemnorvo: systemd's user manager did not take the units: %s\n"
               "Without a user manager, run `zemnorvo watch` and `zemnorvo desktop` from your "
               "session's autostart instead.\n",
               problem.c_str());
  throw CLI::RuntimeError(1);
}

void install() {
  auto binary = platform::ownExecutable();
  if (!binary) {
    std::fprintf(stderr, "zemnorvo: cannot tell where this program lies, so no unit can name it\n");
    throw CLI::RuntimeError(1);
  }
  std::string error;
  auto units = user_units::instantiate(unitTemplates(), *binary, error);
  if (!units) {
    std::fprintf(stderr, "zemnorvo: %s\n", error.c_str());
    throw CLI::RuntimeError(1);
  }
  auto folder = unitFolder();
  for (const auto& unit : *units) {
    if (auto written = record_file::writeAtomically(folder / unit.name, unit.text); !written) {
      std::fprintf(stderr, "zemnorvo: %s\n", written.error.c_str());
      throw CLI::RuntimeError(1);
    }
    std::printf("wrote %s (runs %s)\n", (folder / unit.name).c_str(), binary->c_str());
  }
  std::string problem;
  if (!systemctl({"daemon-reload"}, problem).succeeded()) sayNoManager(problem);
  auto names = unitNames();
  std::vector<std::string> enable{"enable", "--now"};
  enable.insert(enable.end(), names.begin(), names.end());
  if (!systemctl(enable, problem).succeeded()) sayNoManager(problem);
  for (const auto& name : names) std::printf("%s is enabled and started\n", name.c_str());
}

void uninstall() {
  auto folder = unitFolder();
  std::vector<std::string> present;
  for (const auto& name : unitNames()) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder / name, ec))) present.push_back(name);
  }
  if (present.empty()) {
    std::printf("no units of zemnorvo in %s\n", folder.c_str());
    return;
  }
  std::string problem;
  std::vector<std::string> disable{"disable", "--now"};
  disable.insert(disable.end(), present.begin(), present.end());
  bool stopped = systemctl(disable, problem).succeeded();
  bool failed = false;
  for (const auto& name : present) {
    std::error_code ec;
    if (fs::remove(folder / name, ec); ec) {
      std::fprintf(stderr, "zemnorvo: cannot remove %s: %s\n", (folder / name).c_str(),
                   ec.message().c_str());
      failed = true;
    } else {
      std::printf("removed %s\n", (folder / name).c_str());
    }
  }
  if (stopped) systemctl({"daemon-reload"}, problem);
  if (!stopped)
    std::fprintf(stderr,
                 "zemnorvo: %s\nWhat is still running from the units keeps running until it "
                 "ends; stop it with SIGTERM.\n",
                 problem.c_str());
  if (failed || !stopped) throw CLI::RuntimeError(1);
}

void status() {
  auto folder = unitFolder();
  for (const auto& name : unitNames()) {
    std::error_code ec;
    bool present = fs::exists(fs::symlink_status(folder / name, ec));
    std::printf("%s: %s", name.c_str(),
                present ? ("installed in " + folder.string()).c_str() : "not installed");
    std::string problem;
    auto enabled = systemctl({"is-enabled", name}, problem);
    auto active = systemctl({"is-active", name}, problem);
    // is-enabled and is-active print their answer and exit non-zero for "no".
    if (enabled.started && !enabled.timedOut && active.started && !active.timedOut)
      std::printf(", %s, %s\n", trimmed(enabled.output).c_str(), trimmed(active.output).c_str());
    else
      std::printf("; the user manager cannot say: %s\n", problem.c_str());
  }
}

}  // namespace

void addServiceCommands(CLI::App& app) {
  auto* service = app.add_subcommand(
      "service", "Run the measuring loop and the desktop companion whenever you are logged in");
  service->require_subcommand(1);
  service->add_subcommand("install", "Write the user units with this program's path and start them")
      ->callback(install);
  service->add_subcommand("uninstall", "Stop, disable and remove the user units")
      ->callback(uninstall);
  service->add_subcommand("status", "Whether the units are installed, enabled and running")
      ->callback(status);
}

}  // namespace norvo::cli
