// The owner's side of what agents ask for: `zemnorvo suggestions` lists what
// is pending, `zemnorvo answer ID quit|keep` answers a quit suggestion, and
// `zemnorvo stop PID` stops an AI task as the owner. `answer` uninstalls
// the app of an uninstall suggestion the owner accepts, and cleans the items
// of a cleanup suggestion.
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "cli/commands.hpp"
#include "cli/owner_guard.hpp"
#include "cli/suggestion_answer.hpp"
#include "core/assess/text_format.hpp"
#include "core/cleanup/cleanup.hpp"
#include "core/control/ai_process_control.hpp"
#include "core/control/quit_plan.hpp"
#include "core/measure/session.hpp"
#include "core/store/norvo_store.hpp"
#include "core/uninstall/uninstall.hpp"

namespace norvo::cli {

namespace {

using text_format::printable;

std::string megabytes(uint64_t bytes) {
  return fmt::format("{:.1f} MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

std::string dateText(Date date) { return formatIso8601(date); }

void printSuggestions() {
  auto quits = NorvoStore::pendingSuggestions();
  auto cleanups = NorvoStore::pendingCleanups();
  auto uninstalls = NorvoStore::pendingUninstalls();
  if (quits.empty() && cleanups.empty() && uninstalls.empty()) {
    std::printf("No pending suggestions.\n");
    return;
  }
  std::printf("%-9s %-36s %-24s %s\n", "KIND", "ID", "CREATED", "WHAT");
  for (const auto& s : quits) {
    std::printf("%-9s %-36s %-24s quit %zu app(s), from %s: %s\n", "quit", printable(s.id).c_str(),
                dateText(s.created).c_str(), s.items.size(), printable(s.source).c_str(),
                printable(s.reason).c_str());
    for (const auto& i : s.items)
      std::printf("%72s- %s (pid %d, %.1f%% CPU, %s) %s\n", "", printable(i.name).c_str(),
                  i.mainPid, i.cpuPercent, megabytes(i.memoryBytes).c_str(),
                  printable(i.bundlePath).c_str());
  }
  for (const auto& s : cleanups) {
    std::string items;
    for (const auto& id : s.itemIDs) items += (items.empty() ? "" : ", ") + id;
    std::printf("%-9s %-36s %-24s clean %s: %s\n", "cleanup", printable(s.id).c_str(),
                dateText(s.created).c_str(), printable(items).c_str(), printable(s.reason).c_str());
  }
  for (const auto& s : uninstalls)
    std::printf("%-9s %-36s %-24s uninstall %s (%s): %s\n", "uninstall", printable(s.id).c_str(),
                dateText(s.created).c_str(), printable(s.appName).c_str(),
                printable(s.appPath).c_str(), printable(s.reason).c_str());
}

}  // namespace

void addOwnerCommands(CLI::App& app) {
  auto* list = app.add_subcommand("suggestions", "List the agents' pending suggestions");
  static bool listJson = false;
  list->add_flag("--json", listJson, "Print the pending records as JSON");
  list->callback([] {
    if (!listJson) return printSuggestions();
    nlohmann::json out = {{"quit", NorvoStore::pendingSuggestions()},
                          {"cleanup", NorvoStore::pendingCleanups()},
                          {"uninstall", NorvoStore::pendingUninstalls()}};
    std::printf("%s\n", json_codec::encode(out).c_str());
  });

  auto* answer = app.add_subcommand(
      "answer",
      "Answer a suggestion: quit its apps, clean its items or uninstall its app, or keep them");
  static std::string id;
  static std::string choice;
  answer->add_option("id", id, "Id of the suggestion")->required();
  answer->add_option("choice", choice, "quit, clean, uninstall or keep")
      ->required()
      ->check(CLI::IsMember({"quit", "clean", "uninstall", "keep"}));
  answer->callback([] {
    refuseUnderAgent("zemnorvo answer",
                     NorvoStore::cleanup(id) ? "suggest_cleanup" : "suggestion_status");
    auto outcome = answerSuggestion(id, choice);
    if (!outcome.answered) {
      std::fprintf(stderr, "zemnorvo: no pending suggestion with id %s to answer that way\n",
                   id.c_str());
      throw CLI::RuntimeError(1);
    }
    for (const auto& line : outcome.lines) std::printf("%s\n", line.c_str());
    for (const auto& e : outcome.errors) std::fprintf(stderr, "zemnorvo: %s\n", e.c_str());
    if (outcome.failed) throw CLI::RuntimeError(1);
  });

  auto* stop = app.add_subcommand("stop", "Stop a process an AI agent started");
  static int32_t pid = 0;
  static bool force = false;
  static bool children = false;
  static bool stopJson = false;
  static std::optional<std::string> reason;
  stop->add_option("pid", pid, "Process id")->required();
  stop->add_flag("--force", force, "SIGKILL instead of SIGTERM, and a shorter wait");
  stop->add_flag("--children", children, "Also stop its descendants that are AI tasks");
  stop->add_option("--reason", reason, "Why, for the actions log");
  stop->add_flag("--json", stopJson, "Print the result as JSON");
  stop->callback([] {
    // Under an agent this is the agent's own stop, with the agent's rules:
    // refused by kill_ai_process means refused here too.
    auto agent = callingAgent();
    auto caller = agent ? StopCaller::agent(agent) : StopCaller(std::nullopt);
    std::string why = reason.value_or(agent ? "stopped through zemnorvo stop by agent pid " +
                                                  std::to_string(*agent)
                                            : "stopped by the owner");
    auto result = AIProcessControl::stop(pid, force, children, why, caller, NorvoConfig::load());
    if (stopJson)
      std::printf("%s\n", json_codec::encode(nlohmann::json(result)).c_str());
    else if (result.ok)
      std::printf("%s\n", result.message.c_str());
    else if (result.message.rfind("Refused", 0) != 0)
      std::fprintf(stderr, "%s\n", result.message.c_str());
    else
      std::fprintf(stderr, "%s\n%s zemnorvo explain %d tells what it is.\n", result.message.c_str(),
                   agent ? "Under an AI agent only the tasks of its own session and orphaned "
                           "AI tasks may be stopped."
                         : "Only processes that an AI agent started may be stopped.",
                   pid);
    if (!result.ok) throw CLI::RuntimeError(1);
  });
}

}  // namespace norvo::cli
