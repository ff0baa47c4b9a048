// The owner's "Free up space": `zemnorvo cleanup` shows what the catalogue
// finds here with sizes and what happens after each item goes, and
// `zemnorvo cleanup run ID…` cleans the chosen items (`--dry-run`: shows every
// path that would go and removes nothing). Run under an AI agent, the run
// refuses: agents file suggest_cleanup and the owner answers it.
#include <fmt/format.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/owner_guard.hpp"
#include "cli/tables.hpp"
#include "core/assess/text_format.hpp"
#include "core/cleanup/cleanup.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::cli {

namespace {

using text_format::printable;

std::string size(const std::optional<int64_t>& bytes) {
  return bytes ? binaryBytes(static_cast<double>(*bytes)) : "?";
}

struct PreviewOptions {
  double timeout = 20;
  bool json = false;
};

void printPreview(const PreviewOptions& o) {
  auto context = Cleanup::Context::forUser();
  auto items = Cleanup::preview(NorvoConfig::load(), o.timeout,
                                NorvoStore::scanUserFolders(context.store), context);
  if (o.json) {
    std::printf("%s\n", json_codec::encode(nlohmann::json(items)).c_str());
    return;
  }
  if (items.empty()) {
    std::printf("Nothing to clean: none of the caches, build folders or old files exists here.\n");
    return;
  }
  std::printf("%-24s %9s  %-48s %s\n", "ID", "SIZE", "WHAT", "AFTER");
  for (const auto& item : items) {
    std::printf("%-24s %9s  %-48s %s%s\n", item.id.c_str(), size(item.bytes).c_str(),
                (item.title + (item.recommended ? "" : " (not preselected)")).c_str(),
                item.after.c_str(),
                item.skipped ? (" [waits: " + *item.skipped + "]").c_str() : "");
    const char* how = item.removal == Cleanup::Removal::contents  ? "contents of "
                      : item.removal == Cleanup::Removal::trash   ? "to the Trash: "
                      : item.removal == Cleanup::Removal::command ? "by the tool: "
                                                                  : "";
    for (const auto& path : item.paths) std::printf("%26s%s%s\n", "", how, printable(path).c_str());
  }
  std::printf(
      "\nzemnorvo cleanup run ID… removes items; --dry-run first shows every path that would "
      "go.\n");
}

struct RunArguments {
  std::vector<std::string> ids;
  bool dryRun = false;
  bool json = false;
};

void runCleanup(const RunArguments& a) {
  if (!a.dryRun) refuseUnderAgent("zemnorvo cleanup run", "suggest_cleanup");
  std::vector<Cleanup::Step> steps;
  Cleanup::RunOptions options;
  options.dryRun = a.dryRun;
  options.steps = &steps;
  auto result = Cleanup::run(a.ids, NorvoConfig::load(), options);
  if (a.json) {
    std::printf("%s\n", json_codec::encode(nlohmann::json(result)).c_str());
  } else {
    for (const auto& s : steps) {
      bool tool = s.removal == Cleanup::Removal::command;
      const char* what = s.removal == Cleanup::Removal::contents ? "the contents of "
                         : s.removal == Cleanup::Removal::trash
                             ? (a.dryRun ? "to the Trash: " : "moved to the Trash: ")
                         : tool ? (a.dryRun ? "" : "ran ")
                                : (a.dryRun ? "" : "deleted ");
      std::printf("%s%s: %s%s%s\n", a.dryRun ? (tool ? "would run, " : "would go, ") : "",
                  s.id.c_str(), what, printable(s.path).c_str(),
                  s.bytes ? (" (" + size(s.bytes) + ")").c_str() : (s.ok ? "" : " (failed)"));
    }
    for (const auto& [id, why] : result.skipped)
      std::printf("skipped %s: %s\n", id.c_str(), printable(why).c_str());
    if (!a.dryRun)
      std::printf("cleaned %zu item(s); free space grew by %s\n", result.cleaned.size(),
                  size(result.freedBytes).c_str());
  }
  for (const auto& e : result.errors) std::fprintf(stderr, "zemnorvo: %s\n", printable(e).c_str());
  if (!result.errors.empty()) throw CLI::RuntimeError(1);
}

}  // namespace

void addCleanupCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "cleanup", "What can be cleaned here (caches, build folders, old files) with sizes");
  static PreviewOptions preview;
  cmd->add_option("--timeout", preview.timeout, "Seconds to search and measure sizes")
      ->check(CLI::Range(1.0, 600.0))
      ->capture_default_str();
  cmd->add_flag("--json", preview.json, "Print the items as JSON");
  cmd->callback([cmd] {
    if (cmd->get_subcommands().empty()) printPreview(preview);
  });

  static RunArguments run;
  auto* runCmd = cmd->add_subcommand("run", "Clean the items with these ids");
  runCmd->add_option("ids", run.ids, "Item ids from zemnorvo cleanup")->required();
  runCmd->add_flag("--dry-run", run.dryRun, "Show every path that would go; remove nothing");
  runCmd->add_flag("--json", run.json, "Print the result as JSON");
  runCmd->callback([] { runCleanup(run); });
}

}  // namespace norvo::cli
