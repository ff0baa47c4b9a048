#include "core/measure/classifier.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace norvo {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view lastComponent(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view withoutExtension(std::string_view name) {
  auto dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// The script an interpreter runs: the first argument after the interpreter's
// own name that is not an option. Arguments are joined by spaces, so a script
// path with spaces is cut; such installs are not how agent CLIs are set up.
std::string_view scriptArgument(std::string_view arguments) {
  bool first = true;
  size_t pos = 0;
  while (pos < arguments.size()) {
    size_t end = arguments.find(' ', pos);
    if (end == std::string_view::npos) end = arguments.size();
    auto word = arguments.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (first) {
      first = false;
      continue;
    }
    if (word[0] != '-') return word;
  }
  return {};
}

const char* boolText(bool value) { return value ? "true" : "false"; }

}  // namespace

Classifier::Classifier(NorvoConfig config, const ProcessReadings& readings, int32_t callerPid,
                       uint32_t me)
    : config_(std::move(config)), readings_(readings), me_(me) {
  commands_.insert(config_.agentCommands.begin(), config_.agentCommands.end());
  for (const auto& app : config_.aiApps) apps_.insert(lower(app));
  for (int32_t pid = callerPid; pid >= 2 && !selfSet_.count(pid);) {
    auto it = readings_.find(pid);
    if (it == readings_.end()) break;
    selfChain_.push_back(pid);
    selfSet_.insert(pid);
    pid = it->second.ppid;
  }
  for (const auto& [pid, reading] : readings_)
    if (isAgent(reading)) agents_.insert(pid);
  for (int32_t pid : selfChain_) {
    if (agents_.count(pid)) {
      myAgent_ = pid;
      break;
    }
  }
}

bool Classifier::isScriptInterpreter(std::string_view name) {
  static const std::unordered_set<std::string_view> names = {"node",   "bun",     "deno",
                                                             "python", "python3", "Python"};
  return names.count(name) > 0 || startsWith(name, "python");
}

bool Classifier::isAgentCommand(std::string_view name) const {
  if (name.empty()) return false;
  if (commands_.count(std::string(name))) return true;
  // Claude Code's native build is shipped as "claude.exe" on Linux too; the
  // suffix says nothing about what the program is.
  if (endsWith(name, ".exe") && name.size() > 4)
    return commands_.count(std::string(name.substr(0, name.size() - 4))) > 0;
  return false;
}

bool Classifier::isAgent(const ProcessReading& r) const {
  if (isAgentCommand(r.name)) return true;
  // Linux resolves links in the executable path, so an agent installed as a
  // link to a versioned file ("~/.local/bin/claude" -> ".../versions/2.0.14")
  // shows the version as its name; the kernel's command name keeps the name
  // it was started under.
  if (r.command != r.name && isAgentCommand(r.command)) return true;
  if (!isScriptInterpreter(r.name)) return false;
  for (const auto& marker : config_.agentArgumentMarkers)
    if (!marker.empty() && r.arguments.find(marker) != std::string::npos) return true;
  // Package managers install agent CLIs as scripts named after the command
  // ("node <prefix>/bin/gemini"), with no package name on the command line.
  // Only the script itself counts, so a server started with "claude" among
  // its options stays what it is.
  return isAgentCommand(lastComponent(scriptArgument(r.arguments)));
}

bool Classifier::appNameMatches(const std::string& bundle) const {
  auto name = lower(withoutExtension(lastComponent(bundle)));
  if (apps_.count(name)) return true;
  // Desktop file ids are often reverse domain names ("dev.zed.Zed"); the last
  // part is the app's name.
  if (ProcessTable::desktopEntryId(bundle)) {
    auto dot = name.rfind('.');
    if (dot != std::string::npos && apps_.count(name.substr(dot + 1))) return true;
  }
  return false;
}

bool Classifier::isAIApp(const ProcessReading& r) const {
  if (auto bundle = ProcessTable::outermostBundle(r.path); bundle && appNameMatches(*bundle))
    return true;
  const ProcessReading* responsible = nullptr;
  if (r.responsiblePid != r.pid) {
    if (auto it = readings_.find(r.responsiblePid); it != readings_.end())
      responsible = &it->second;
  }
  if (responsible) {
    if (auto bundle = ProcessTable::outermostBundle(responsible->path);
        bundle && appNameMatches(*bundle))
      return true;
  }
  // The Linux counterpart of a bundle: the desktop entry of the app unit.
  if (r.appEntry && appNameMatches(*r.appEntry)) return true;
  return responsible && responsible->appEntry && appNameMatches(*responsible->appEntry);
}

std::optional<int32_t> Classifier::agentAncestor(const ProcessReading& reading) const {
  std::unordered_set<int32_t> seen;
  for (int32_t pid = reading.ppid; pid >= 2 && seen.insert(pid).second;) {
    auto it = readings_.find(pid);
    if (it == readings_.end()) break;
    if (agents_.count(pid)) return pid;
    pid = it->second.ppid;
  }
  return std::nullopt;
}

// A process whose agent exited is reparented: to init (pid 1), or on Linux to
// the nearest sub-reaper above it (prctl(2) PR_SET_CHILD_SUBREAPER), which a
// user's service manager, a container's init or a terminal multiplexer often
// is. No file in /proc says who is a sub-reaper, so reparenting is recognised
// by its effect: the remembered agent is no longer among the process's
// ancestors. The walk stops where the readings stop, as every walk here does.
bool Classifier::isReparented(const ProcessReading& reading, int32_t rememberedAgent) const {
  if (reading.ppid == 1) return true;
  std::unordered_set<int32_t> seen;
  for (int32_t pid = reading.ppid; pid >= 2 && seen.insert(pid).second;) {
    if (pid == rememberedAgent) return false;
    auto it = readings_.find(pid);
    if (it == readings_.end()) break;
    pid = it->second.ppid;
  }
  return true;
}

Classifier::Result Classifier::classify(const ProcessReading& r,
                                        std::optional<int32_t> rememberedAgent) const {
  auto task = [&](int32_t agent, bool orphaned) {
    auto text = lower(r.name + " " + r.arguments);
    auto category =
        text.find("mcp") != std::string::npos ? ProcessCategory::aiInfra : ProcessCategory::aiTask;
    return Result{category, agent, orphaned};
  };
  if (r.uid != me_) return {ProcessCategory::system, std::nullopt, false};
  if (selfSet_.count(r.pid)) {
    // The same app test as for everyone else, so an editor the desktop
    // started (a desktop entry, not a bundle) counts as the AI app it is.
    if (isAgent(r) || isAIApp(r)) return {ProcessCategory::aiAgent, std::nullopt, false};
    return {ProcessCategory::aiInfra, std::nullopt, false};
  }
  if (agents_.count(r.pid) || isAgent(r)) return {ProcessCategory::aiAgent, std::nullopt, false};
  if (auto agent = agentAncestor(r)) return task(*agent, false);
  if (rememberedAgent && isReparented(r, *rememberedAgent)) {
    auto it = readings_.find(*rememberedAgent);
    bool alive = it != readings_.end() && isAgent(it->second);
    return task(*rememberedAgent, !alive);
  }
  if (isAIApp(r)) return {ProcessCategory::aiAgent, std::nullopt, false};
  if (auto bundle = ProcessTable::owningBundle(r, readings_)) {
    bool system = startsWith(*bundle, "/System/Library/") || startsWith(*bundle, "/Library/Apple/");
    return {system ? ProcessCategory::system : ProcessCategory::userApp, std::nullopt, false};
  }
  // "/lib/" and "/lib64/" hold system programs on Linux systems whose /usr is
  // not merged; everything else the distribution ships is under the other
  // folders already.
  static const std::vector<std::string_view> systemFolders = {
      "/System/",
      "/usr/",
      "/bin/",
      "/sbin/",
      "/Library/Apple/",
      "/private/",
      "/Library/Developer/CommandLineTools/",
      "/lib/",
      "/lib64/"};
  bool system =
      r.path.empty() || std::any_of(systemFolders.begin(), systemFolders.end(),
                                    [&](auto folder) { return startsWith(r.path, folder); });
  return {system ? ProcessCategory::system : ProcessCategory::userApp, std::nullopt, false};
}

std::string Classifier::explanation(int32_t pid) const {
  auto it = readings_.find(pid);
  if (it == readings_.end()) return "no such pid";
  const auto& r = it->second;
  std::string text = r.name + " pid " + std::to_string(r.pid) + " ppid " + std::to_string(r.ppid) +
                     " uid " + std::to_string(r.uid);
  text += "\npath: " + r.path + "\nargs: " + r.arguments;
  // Only systems that hold another process responsible for this one say so;
  // Linux never does, and the app comes from the bundle, the desktop unit or
  // the desktop entry of the program.
  if (r.responsiblePid != r.pid) {
    auto responsible = readings_.find(r.responsiblePid);
    text += "\nresponsible: " + std::to_string(r.responsiblePid) + " " +
            (responsible == readings_.end() ? std::string("?") : responsible->second.name);
  }
  text += "\napp: " + ProcessTable::owningBundle(r, readings_).value_or("-");
  auto ancestor = agentAncestor(r);
  text += std::string("\nagent CLI: ") + boolText(isAgent(r)) +
          ", AI app: " + boolText(isAIApp(r)) +
          ", agent ancestor: " + (ancestor ? std::to_string(*ancestor) : "-");
  auto result = classify(r, std::nullopt);
  text += "\n→ " + std::string(rawValue(result.category));
  if (result.agentPid)
    text +=
        " (agent " + std::to_string(*result.agentPid) + (result.orphaned ? ", orphaned" : "") + ")";
  text += "; my agent: " + (myAgent_ ? std::to_string(*myAgent_) : std::string("-"));
  return text;
}

std::string Classifier::explain(int32_t pid) {
  auto& table = ProcessTable::shared();
  auto readings = table.read(std::chrono::seconds(2));
  Classifier classifier(NorvoConfig::load(), readings, ::getpid(), table.source().currentUid());
  return classifier.explanation(pid);
}

}  // namespace norvo
