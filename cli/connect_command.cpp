// `zemnorvo connect` puts the product in reach of the owner's AI tools (the
// link on the path, the agent server registered with Claude Code, Claude
// Desktop, Codex and Gemini, the Claude Code hooks); `connect --status` says
// what is connected; `zemnorvo disconnect` takes it all back. Registering is
// setup the owner often asks an agent to do, so it runs under an agent too:
// it changes only the product's own entries.
#include <cstdio>
#include <filesystem>

#include "cli/commands.hpp"
#include "core/assess/text_format.hpp"
#include "core/integration/integration.hpp"
#include "core/platform/child_process.hpp"
#include "core/platform/config_file.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::cli {

namespace {

namespace fs = std::filesystem;

void printReport(const Integration::Report& report) {
  for (const auto& message : report.messages)
    std::printf("%s\n", text_format::printable(message).c_str());
  std::fflush(stdout);
  if (!report.complete) throw CLI::RuntimeError(1);
}

void printStatus(const Integration::Context& context, bool asJson) {
  auto s = Integration::status(context);
  if (asJson) {
    nlohmann::json j = s;
    j["connected"] = s.connected();
    std::printf("%s\n", json_codec::encode(j).c_str());
    return;
  }
  const auto& places = context.places;
  auto yes = [](bool b) { return b ? "yes" : "no"; };
  struct Row {
    const char* field;
    std::string value;
    std::string meaning;
  };
  const Row rows[] = {
      {"connected", yes(s.connected()),
       "the Claude Code registration and the hooks are both there"},
      {"cliLinked", yes(s.cliLinked),
       "a usable zemnorvo at " + Integration::linkPath(places).string()},
      {"claudeCodeMCP", yes(s.claudeCodeMCP),
       Integration::claudeUserConfig(places).string() + " lists the server zemra-norvo"},
      {"claudeCodeHooks", yes(s.claudeCodeHooks),
       Integration::claudeSettings(places).string() +
           " runs zemnorvo hook at SessionStart, UserPromptSubmit and PreToolUse"},
      {"claudeDesktopInstalled", yes(s.claudeDesktopInstalled),
       "Claude Desktop has been installed or started (its configuration folder or desktop entry)"},
      {"claudeDesktopMCP", yes(s.claudeDesktopMCP),
       places.claudeDesktopConfig.string() + " lists the server zemra-norvo"},
      {"claudeCLI", yes(s.claudeCLI.has_value()),
       "the Claude Code program that registers the server" +
           (s.claudeCLI ? ": " + *s.claudeCLI : std::string())},
      {"codexInstalled", yes(s.codexInstalled),
       "Codex CLI's folder " + places.codexConfig.parent_path().string() + " exists"},
      {"codexMCP", yes(s.codexMCP),
       places.codexConfig.string() + " has the table mcp_servers.zemra-norvo"},
      {"geminiInstalled", yes(s.geminiInstalled),
       "Gemini CLI's folder " + places.geminiSettings.parent_path().string() + " exists"},
      {"geminiMCP", yes(s.geminiMCP),
       places.geminiSettings.string() + " lists the server zemra-norvo"},
  };
  for (const auto& row : rows)
    std::printf("%-23s %-4s %s\n", row.field, text_format::printable(row.value).c_str(),
                text_format::printable(row.meaning).c_str());
}

// The program the link leads to: the one given, made absolute, or this very
// program's real path.
std::string executableToLink(const std::string& given) {
  if (given.empty()) {
    auto own = platform::ownExecutable();
    if (!own) {
      std::fprintf(stderr,
                   "zemnorvo connect: cannot tell where this program is; give --executable\n");
      throw CLI::RuntimeError(1);
    }
    return *own;
  }
  std::error_code ec;
  fs::path path = fs::absolute(given, ec).lexically_normal();
  if (ec || !platform::isExecutableFile(path)) {
    std::fprintf(stderr, "zemnorvo connect: %s is not an executable file\n",
                 text_format::printable(given).c_str());
    throw CLI::RuntimeError(1);
  }
  return path.string();
}

}  // namespace

void addConnectCommands(CLI::App& app) {
  static std::string executable;
  static bool showStatus = false, asJson = false;
  auto* connect = app.add_subcommand(
      "connect",
      "Register the agent server and the hooks with Claude Code (and Claude Desktop, Codex CLI, "
      "Gemini CLI where installed), and link zemnorvo into ~/.local/bin");
  connect->add_option("--executable", executable,
                      "The zemnorvo the link leads to (default: this program's real path)");
  auto* statusFlag =
      connect->add_flag("--status", showStatus, "Only show what is connected, changing nothing");
  connect->add_flag("--json", asJson, "With --status: as JSON")->needs(statusFlag);
  connect->callback([] {
    auto context = Integration::Context::forUser();
    if (showStatus) return printStatus(context, asJson);
    printReport(Integration::connect(executableToLink(executable), context));
  });

  auto* disconnect = app.add_subcommand(
      "disconnect", "Remove everything connect added: the registrations, the hooks and the link");
  disconnect->callback(
      [] { printReport(Integration::disconnect(Integration::Context::forUser())); });
}

}  // namespace norvo::cli
