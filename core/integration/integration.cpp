#include "core/integration/integration.hpp"

#include <functional>

#include "core/integration/codex_config.hpp"
#include "core/integration/config_changes.hpp"
#include "core/platform/config_file.hpp"
#include "core/platform/tool_run.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::Integration {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr auto kStatusFields = record_fields::list(
    record_fields::field("cliLinked", &Status::cliLinked),
    record_fields::field("claudeCodeMCP", &Status::claudeCodeMCP),
    record_fields::field("claudeCodeHooks", &Status::claudeCodeHooks),
    record_fields::field("claudeDesktopInstalled", &Status::claudeDesktopInstalled),
    record_fields::field("claudeDesktopMCP", &Status::claudeDesktopMCP),
    record_fields::field("claudeCLI", &Status::claudeCLI),
    record_fields::field("codexInstalled", &Status::codexInstalled),
    record_fields::field("codexMCP", &Status::codexMCP),
    record_fields::field("geminiInstalled", &Status::geminiInstalled),
    record_fields::field("geminiMCP", &Status::geminiMCP));

// Settings files are small; anything this large is not one to rewrite. The
// user configuration that Claude Code keeps its history in is only read.
constexpr size_t kMaxEditBytes = 16u << 20;
constexpr size_t kMaxReadBytes = 64u << 20;
constexpr int kMaxDepth = 256;
// A file the product creates holds only its own entries, and is the owner's alone.
constexpr mode_t kNewFileMode = 0600;

// The file's current text (absent: there is none) to its new text; absent
// with `why` set when the text is not of the file's format.
using Change =
    std::function<std::optional<std::string>(const std::optional<std::string>&, std::string& why)>;

// The one editing routine. Absent when the file holds the change (written
// now or already), else what went wrong, the file being as it was.
std::optional<std::string> editFile(const fs::path& path, const Change& change) {
  auto read = platform::readConfigFile(path, kMaxEditBytes, /*followLinks=*/false);
  if (read.state == platform::ConfigRead::State::refused)
    return path.string() + " left unchanged: " + read.reason;
  std::optional<std::string> current;
  if (read.state == platform::ConfigRead::State::read) current = std::move(read.bytes);
  std::string why;
  auto next = change(current, why);
  if (!next) return path.string() + " left unchanged: " + why;
  if (current && *next == *current) return std::nullopt;
  mode_t mode = current ? read.mode : kNewFileMode;
  if (current) {
    // Without the first backup the owner could not go back: no edit then.
    std::string error;
    if (!platform::writeBackupOnce(path.string() + std::string(kBackupSuffix), *current, mode,
                                   error))
      return error + "; " + path.string() + " left unchanged";
  }
  auto error = platform::replaceConfigFile(path, *next, mode);
  if (!error.empty()) return error;
  return std::nullopt;
}

Change jsonChange(std::function<void(json&)> apply) {
  return [apply = std::move(apply)](const std::optional<std::string>& current,
                                    std::string& why) -> std::optional<std::string> {
    json object = json::object();
    if (current) {
      if (nestsDeeperThan(*current, kMaxDepth)) {
        why = "it nests deeper than " + std::to_string(kMaxDepth) + " levels";
        return std::nullopt;
      }
      object = json::parse(*current, nullptr, /*allow_exceptions=*/false);
      if (object.is_discarded()) {
        why = "it is not valid JSON";
        return std::nullopt;
      }
      if (!object.is_object()) {
        why = "its top level is not a JSON object";
        return std::nullopt;
      }
    }
    apply(object);
    return object.dump(2) + "\n";
  };
}

// A missing, unreadable or unparsable file reads as an empty object.
json readObject(const fs::path& path) {
  auto read = platform::readConfigFile(path, kMaxReadBytes, /*followLinks=*/true);
  if (read.state != platform::ConfigRead::State::read || nestsDeeperThan(read.bytes, kMaxDepth))
    return json::object();
  auto parsed = json::parse(read.bytes, nullptr, /*allow_exceptions=*/false);
  return parsed.is_object() ? parsed : json::object();
}

bool anyExists(const std::vector<fs::path>& paths) {
  for (const auto& p : paths)
    if (platform::existsNoFollow(p)) return true;
  return false;
}

bool isFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// The agent programs whose folder exists; each makes it at first start.
bool codexInstalled(const platform::AgentPlaces& places) {
  return isFolder(places.codexConfig.parent_path());
}
bool geminiInstalled(const platform::AgentPlaces& places) {
  return isFolder(places.geminiSettings.parent_path());
}

// Runs the Claude Code program; the exit status and its output as one line.
struct Ran {
  int status;
  std::string text;
};
Ran runClaude(const std::string& claude, std::vector<std::string> arguments,
              const Context& context) {
  arguments.insert(arguments.begin(), claude);
  auto run = platform::runTool(arguments, {}, context.programTimeout, 64 * 1024);
  if (!run.started) return {-1, "cannot run " + claude + ": " + run.error};
  if (run.timedOut)
    return {-1, claude + " did not finish within " +
                    std::to_string(context.programTimeout.count() / 1000) + " seconds"};
  std::string text = oneLine(run.output);
  if (text.empty()) text = "exit status " + std::to_string(run.exitStatus);
  return {run.exitStatus, text};
}

// One step's message, and the second one when the step could not do its part.
void step(Report& report, std::string message, const std::optional<std::string>& problem,
          std::string_view notDone) {
  report.messages.push_back(std::move(message));
  if (!problem) return;
  report.messages.push_back(std::string(notDone) + ": " + *problem);
  report.complete = false;
}

}  // namespace

void to_json(json& j, const Status& s) { kStatusFields.write(j, s); }
void from_json(const json& j, Status& s) { kStatusFields.read(j, s); }

Context Context::forUser() {
  Context context;
  context.places = platform::AgentPlaces::forUser();
  return context;
}

fs::path linkPath(const platform::AgentPlaces& places) {
  return places.home / ".local/bin/zemnorvo";
}
fs::path claudeSettings(const platform::AgentPlaces& places) {
  return places.home / ".claude/settings.json";
}
fs::path claudeUserConfig(const platform::AgentPlaces& places) {
  return places.home / ".claude.json";
}

std::optional<std::string> findClaude(const Context& context) {
  for (const auto& path : context.places.claudeProgramPaths)
    if (platform::isExecutableFile(path)) return path.string();
  if (context.places.loginShell.empty()) return std::nullopt;
  // A login shell, so that the owner's own PATH from their profile applies.
  auto run = platform::runTool({context.places.loginShell, "-lc", "command -v claude"}, {},
                               context.shellTimeout, 64 * 1024);
  if (!run.started || run.timedOut) return std::nullopt;
  auto found = claudeFromShell(run.exitStatus, decodeUtf8(run.output));
  // Only a program that can be run: a profile may print anything.
  if (found && !platform::isExecutableFile(*found)) return std::nullopt;
  return found;
}

Status status(const Context& context) {
  const auto& places = context.places;
  Status s;
  s.cliLinked = platform::isExecutableFile(linkPath(places));
  s.claudeCodeMCP = hasServer(readObject(claudeUserConfig(places)));
  s.claudeCodeHooks = hasHooks(readObject(claudeSettings(places)));
  s.claudeDesktopInstalled = anyExists(places.claudeDesktopSigns);
  s.claudeDesktopMCP = hasServer(readObject(places.claudeDesktopConfig));
  s.claudeCLI = findClaude(context);
  s.codexInstalled = codexInstalled(places);
  if (auto read = platform::readConfigFile(places.codexConfig, kMaxReadBytes, true);
      read.state == platform::ConfigRead::State::read)
    s.codexMCP = codex_config::hasServer(read.bytes);
  s.geminiInstalled = geminiInstalled(places);
  s.geminiMCP = hasServer(readObject(places.geminiSettings));
  return s;
}

Report connect(const std::string& executable, const Context& context) {
  const auto& places = context.places;
  Report report;
  const fs::path link = linkPath(places);
  const std::string linkText = link.string();

  // 1. The link. An installation into ~/.local puts the program itself
  // there: it is left, never replaced by a link to itself.
  auto current = platform::linkTarget(link);
  std::string linkError;
  bool keep = current ? *current == executable
                      : platform::existsNoFollow(link) && platform::sameFile(link, executable);
  if (fs::path(executable).lexically_normal() == link.lexically_normal()) {
    // Named by its own place: a link to itself would lead nowhere.
    keep = true;
    if (!platform::isExecutableFile(link)) linkError = linkText + " cannot lead to itself";
  }
  if (!keep) linkError = platform::placeLink(link, executable);
  if (linkError.empty()) {
    report.messages.push_back("CLI: " + linkText + " \u2192 " + executable);
  } else {
    report.messages.push_back("CLI link failed: " + linkError);
    report.complete = false;
  }

  // 2. Claude Code's registration, replacing a stale one.
  if (auto claude = findClaude(context)) {
    runClaude(*claude, {"mcp", "remove", std::string(kServerName), "--scope", "user"}, context);
    auto added = runClaude(*claude,
                           {"mcp", "add", "--transport", "stdio", "--scope", "user",
                            std::string(kServerName), "--", linkText, "mcp"},
                           context);
    if (added.status == 0) {
      report.messages.push_back("Claude Code: MCP server zemra-norvo added (user scope)");
    } else {
      report.messages.push_back("Claude Code: mcp add failed: " + added.text);
      report.complete = false;
    }
  } else {
    report.messages.push_back(
        "Claude Code CLI not found: MCP server not registered (hooks still added)");
  }

  // 3. The hooks.
  const fs::path settings = claudeSettings(places);
  step(report, "Claude Code: hooks added to " + settings.string(),
       editFile(settings, jsonChange([&](json& j) { installHooks(j, linkText); })),
       "Claude Code: hooks not added");

  // 4. Claude Desktop, only where it is installed.
  if (anyExists(places.claudeDesktopSigns))
    step(report, "Claude Desktop: MCP server added (restart Claude to load it)",
         editFile(places.claudeDesktopConfig, jsonChange([&](json& j) { addServer(j, linkText); })),
         "Claude Desktop: MCP server not added");

  // 5. The other agent programs that read their servers from a user file.
  if (codexInstalled(places))
    step(report, "Codex CLI: MCP server added to " + places.codexConfig.string(),
         editFile(places.codexConfig,
                  [&](const std::optional<std::string>& text, std::string& why) {
                    return codex_config::withServer(text.value_or(""), linkText, why);
                  }),
         "Codex CLI: MCP server not added");
  if (geminiInstalled(places))
    step(report, "Gemini CLI: MCP server added to " + places.geminiSettings.string(),
         editFile(places.geminiSettings, jsonChange([&](json& j) { addServer(j, linkText); })),
         "Gemini CLI: MCP server not added");
  return report;
}

Report disconnect(const Context& context) {
  const auto& places = context.places;
  Report report;
  if (auto claude = findClaude(context)) {
    runClaude(*claude, {"mcp", "remove", std::string(kServerName), "--scope", "user"}, context);
    report.messages.push_back("Claude Code: MCP server removed");
  }
  const fs::path settings = claudeSettings(places);
  if (platform::existsNoFollow(settings))
    step(report, "Claude Code: hooks removed", editFile(settings, jsonChange(removeHooks)),
         "Claude Code: hooks not removed");
  if (platform::existsNoFollow(places.claudeDesktopConfig))
    step(report, "Claude Desktop: MCP server removed",
         editFile(places.claudeDesktopConfig, jsonChange(removeServer)),
         "Claude Desktop: MCP server not removed");
  if (platform::existsNoFollow(places.codexConfig))
    step(report, "Codex CLI: MCP server removed",
         editFile(places.codexConfig,
                  [](const std::optional<std::string>& text, std::string& why) {
                    return codex_config::withoutServer(text.value_or(""), why);
                  }),
         "Codex CLI: MCP server not removed");
  if (platform::existsNoFollow(places.geminiSettings))
    step(report, "Gemini CLI: MCP server removed",
         editFile(places.geminiSettings, jsonChange(removeServer)),
         "Gemini CLI: MCP server not removed");
  platform::removeLink(linkPath(places));
  return report;
}

}  // namespace norvo::Integration
