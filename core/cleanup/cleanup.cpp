#include "core/cleanup/cleanup.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

#include "core/cleanup/catalogue.hpp"
#include "core/disk/disk_scan.hpp"
#include "core/platform/file_removal.hpp"
#include "core/platform/tool_run.hpp"
#include "core/records/record_fields.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::Cleanup {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::array<std::pair<Removal, std::string_view>, 4> kRemovalNames{{
    {Removal::contents, "contents"},
    {Removal::delete_, "delete"},
    {Removal::trash, "trash"},
    {Removal::command, "command"},
}};

constexpr auto itemFields = record_fields::list(
    record_fields::field("id", &Item::id), record_fields::field("title", &Item::title),
    record_fields::field("titleRu", &Item::titleRu), record_fields::field("paths", &Item::paths),
    record_fields::field("bytes", &Item::bytes), record_fields::field("removal", &Item::removal),
    record_fields::field("after", &Item::after), record_fields::field("afterRu", &Item::afterRu),
    record_fields::field("recommended", &Item::recommended),
    record_fields::field("skipped", &Item::skipped),
    record_fields::field("skippedRu", &Item::skippedRu));

constexpr auto resultFields =
    record_fields::list(record_fields::field("cleaned", &Result::cleaned),
                        record_fields::field("skipped", &Result::skipped),
                        record_fields::field("freedBytes", &Result::freedBytes),
                        record_fields::field("errors", &Result::errors));

// A path in its standard form: "." and ".." worked out, no trailing "/".
fs::path standardised(const fs::path& path) {
  auto p = path.lexically_normal();
  if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  return p;
}

// The lexical half of the safety check: the standardised path when it lies
// at least two characters deep inside `base`.
std::optional<fs::path> inside(const fs::path& path, const fs::path& base) {
  if (!path.is_absolute() || !base.is_absolute()) return std::nullopt;
  auto p = standardised(path);
  auto b = standardised(base).string();
  if (b != "/") b += "/";
  auto text = p.string();
  if (!text.starts_with(b) || text.size() < b.size() + 2) return std::nullopt;
  return p;
}

std::string systemMessage(const fs::path& path, int code) {
  return path.string() + ": " + std::strerror(code);
}

// The error line of a removal that did not happen.
std::string failureLine(const fs::path& path, const platform::Removal& r) {
  if (r.check == platform::ItemCheck::outside) return path.string() + std::string(kRefused);
  return r.message.empty() ? path.string() + ": could not be removed" : r.message;
}

// $TMPDIR when it is a folder that cannot hold the owner's own files: not
// "/", the home folder or a folder above it, nor a protected folder or one
// inside it. Everything in the temporary folder may go once it is 3 days old.
fs::path temporaryFolder(const fs::path& home, const std::vector<fs::path>& protectedOnes) {
  const char* env = std::getenv("TMPDIR");
  std::error_code ec;
  if (!env || env[0] != '/' || !fs::is_directory(env, ec)) return "/tmp";
  auto t = standardised(env);
  auto within = [](const fs::path& a, const fs::path& b) {  // a is b or inside it
    auto rel = a.lexically_relative(b);
    return !rel.empty() && *rel.begin() != "..";
  };
  if (t == t.root_path() || within(home, t)) return "/tmp";
  for (const auto& p : protectedOnes)
    if (within(t, p)) return "/tmp";
  return t;
}

std::string commandLine(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& a : argv) text += (text.empty() ? "" : " ") + a;
  return text;
}

std::string lastLine(std::string output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  auto at = output.rfind('\n');
  output = at == std::string::npos ? output : output.substr(at + 1);
  return output.size() > 200 ? output.substr(0, 200) + "…" : output;
}

struct Runner {
  const Context& context;
  const RunOptions& options;
  std::vector<Step> steps;

  void step(const catalogue::Entry& e, const std::string& path, std::optional<int64_t> bytes,
            bool ok) {
    steps.push_back(Step{e.item.id, e.item.removal, path, bytes, ok});
  }

  // Runs one tool of a command item; its error line when it did not succeed.
  void tool(const catalogue::Entry& e, const std::vector<std::string>& argv,
            const std::vector<std::string>& environment, std::vector<std::string>& errors) {
    auto line = commandLine(argv);
    if (options.dryRun) return step(e, line, std::nullopt, true);
    auto ran = platform::runTool(argv, environment, context.toolLimit);
    step(e, line, std::nullopt, ran.succeeded());
    if (!ran.started)
      errors.push_back(line + ": could not be started: " + ran.error);
    else if (ran.timedOut)
      errors.push_back(line + fmt::format(": timed out after {:g} s and was stopped",
                                          context.toolLimit.count()));
    else if (ran.exitStatus != 0)
      errors.push_back(line + ": failed with exit status " + std::to_string(ran.exitStatus) +
                       (lastLine(ran.output).empty() ? "" : ": " + lastLine(ran.output)));
  }

  // Removes (or in a dry run measures) what the entry lists; its error lines.
  std::vector<std::string> remove(const catalogue::Entry& e) {
    std::vector<std::string> errors;
    const auto& item = e.item;
    if (item.removal == Removal::command) {
      if (item.id == "homebrew-old" && e.brew) {
        tool(e, {e.brew->string(), "cleanup", "--prune=all"},
             {"HOMEBREW_NO_AUTO_UPDATE=1", "HOMEBREW_NO_ENV_HINTS=1"}, errors);
      } else if (item.id == "unavailable-simulators") {
        tool(e, {context.xcrun.string(), "simctl", "delete", "unavailable"}, {}, errors);
      } else if (item.id == "old-simulator-runtimes") {
        for (const auto& runtime : e.runtimeIDs)
          tool(e, {context.xcrun.string(), "simctl", "runtime", "delete", runtime}, {}, errors);
      }
      return errors;
    }
    bool temporary = item.id == "temp-files";
    for (const auto& given : item.paths) {
      auto path = inside(given, e.base);
      if (!path) {
        errors.push_back(given + std::string(temporary ? kNotTemporary : kRefused));
        continue;
      }
      if (item.removal == Removal::contents) {
        contents(e, *path, errors);
        continue;
      }
      auto r = item.removal == Removal::trash && !options.dryRun
                   ? platform::trashBelow(e.base, *path)
                   : platform::deleteBelow(e.base, *path, options.dryRun, e.owner);
      step(e, path->string(), r.ok ? std::optional<int64_t>(r.bytes) : std::nullopt, r.ok);
      if (!r.ok) errors.push_back(failureLine(*path, r));
    }
    return errors;
  }

  // Empties one folder entry by entry, each checked again as it goes: an
  // entry that is a link, or a folder swapped for one, is refused.
  void contents(const catalogue::Entry& e, const fs::path& folder,
                std::vector<std::string>& errors) {
    auto listing = platform::listBelow(e.base, folder);
    if (listing.check == platform::ItemCheck::outside) {
      step(e, folder.string(), std::nullopt, false);
      errors.push_back(folder.string() + std::string(kRefused));
      return;
    }
    if (listing.check == platform::ItemCheck::gone ||
        (listing.errorCode != 0 && listing.names.empty())) {
      step(e, folder.string(), std::nullopt, false);
      errors.push_back(systemMessage(folder, listing.errorCode ? listing.errorCode : ENOENT));
      return;
    }
    std::sort(listing.names.begin(), listing.names.end());
    int64_t bytes = 0;
    bool ok = true;
    for (const auto& name : listing.names) {
      auto entry = folder / name;
      auto r = platform::deleteBelow(e.base, entry, options.dryRun, e.owner);
      if (r.ok) {
        bytes += r.bytes;
        continue;
      }
      ok = false;
      errors.push_back(failureLine(entry, r));
    }
    if (listing.errorCode != 0) {
      ok = false;
      errors.push_back(systemMessage(folder, listing.errorCode));
    }
    step(e, folder.string(), bytes, ok);
  }
};

void logItem(const Item& item, size_t errorCount, const RunOptions& options,
             const fs::path& store) {
  NorvoStore::Action action;
  action.date = std::chrono::system_clock::now();
  action.actor = options.actor;
  action.kind = "cleanup";
  action.name = item.id;
  action.detail = logText(item, errorCount, options.detail);
  NorvoStore::log(action, store);
}

}  // namespace

std::string_view rawValue(Removal removal) {
  for (const auto& [r, name] : kRemovalNames)
    if (r == removal) return name;
  return "contents";
}

std::optional<Removal> removalFromRaw(std::string_view raw) {
  for (const auto& [r, name] : kRemovalNames)
    if (name == raw) return r;
  return std::nullopt;
}

void to_json(nlohmann::json& j, Removal removal) { j = std::string(rawValue(removal)); }

void from_json(const nlohmann::json& j, Removal& removal) {
  auto parsed = removalFromRaw(j.get<std::string>());
  if (!parsed) throw nlohmann::json::type_error::create(302, "unknown removal", &j);
  removal = *parsed;
}

void to_json(nlohmann::json& j, const Item& item) { itemFields.write(j, item); }
void from_json(const nlohmann::json& j, Item& item) { itemFields.read(j, item); }
void to_json(nlohmann::json& j, const Result& result) { resultFields.write(j, result); }
void from_json(const nlohmann::json& j, Result& result) { resultFields.read(j, result); }

Places Places::forUser() {
  auto roots = platform::Roots::system();
  auto apps = platform::AppPlaces::forUser(roots);
  auto user = DiskUsage::placesFor(roots);
  Places p;
  p.home = standardised(roots.home);
  p.cacheHome = apps.cacheHome;
  p.dataHome = apps.dataHome;
  p.stateHome = apps.stateHome;
  p.desktop = user.desktop;
  p.documents = user.documents;
  p.downloads = user.downloads;
  p.temporary = temporaryFolder(p.home, {p.desktop, p.documents, p.downloads});
  p.user = platform::currentUser();
  return p;
}

Places Places::under(const fs::path& home, const fs::path& temporary) {
  Places p;
  p.home = standardised(home);
  p.cacheHome = p.home / ".cache";
  p.dataHome = p.home / ".local/share";
  p.stateHome = p.home / ".local/state";
  p.desktop = p.home / "Desktop";
  p.documents = p.home / "Documents";
  p.downloads = p.home / "Downloads";
  p.temporary = standardised(temporary);
  p.user = platform::currentUser();
  return p;
}

fs::path Places::expand(std::string_view path) const {
  if (path == "~") return home;
  if (path.starts_with("~/")) return home / std::string(path.substr(2));
  return fs::path(std::string(path));
}

Context Context::forUser() {
  Context c;
  c.places = Places::forUser();
  c.store = NorvoStore::directory();
  c.readProcesses = [] { return ProcessTable::shared().read(std::chrono::seconds(2)); };
  c.freeSpace = [] { return platform::availableBytes("/"); };
  // Homebrew's prefixes on Apple silicon, on Intel Macs, and on Linux (the
  // shared one, then a user's own).
  c.brewTools = {"/opt/homebrew/bin/brew", "/usr/local/bin/brew",
                 "/home/linuxbrew/.linuxbrew/bin/brew", c.places.home / ".linuxbrew/bin/brew"};
  c.xcrun = "/usr/bin/xcrun";
  c.apps = Uninstall::Context::forUser();
  return c;
}

std::optional<fs::path> safePath(const fs::path& path, const fs::path& base) {
  auto p = inside(path, base);
  if (!p || platform::checkBelow(standardised(base), *p) != platform::ItemCheck::present)
    return std::nullopt;
  return p;
}

std::vector<Item> preview(const NorvoConfig& config, double timeout, bool userFolders,
                          const Context& context) {
  auto start = Clock::now();
  auto seconds = [](double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };
  // Half the budget for finding the computed items (at least 3 s, so that a
  // preview without sizes still finds them), the rest for the sizes.
  auto entries =
      catalogue::compute(config, userFolders, start + seconds(std::max(3.0, timeout / 2)), context);
  catalogue::measure(entries, start + seconds(std::max(0.0, timeout)));
  std::vector<Item> items;
  for (auto& e : entries) items.push_back(std::move(e.item));
  return items;
}

Result run(const std::vector<std::string>& ids, const NorvoConfig& config,
           const RunOptions& options, const Context& context) {
  Result result;
  auto freeBefore = context.freeSpace ? context.freeSpace().value_or(0) : 0;
  auto start = Clock::now();
  auto entries = catalogue::compute(config, NorvoStore::scanUserFolders(context.store),
                                    start + std::chrono::seconds(30), context);
  catalogue::measure(entries, start + std::chrono::seconds(60));

  Runner runner{context, options, {}};
  std::set<std::string> done;
  for (const auto& id : ids) {
    if (!done.insert(id).second) continue;
    auto e = std::find_if(entries.begin(), entries.end(),
                          [&](const catalogue::Entry& c) { return c.item.id == id; });
    if (e == entries.end() || (e->item.removal != Removal::command && e->item.paths.empty())) {
      result.skipped[id] = std::string(kNothingToClean);
      continue;
    }
    if (e->item.skipped) {
      result.skipped[id] = *e->item.skipped;
      continue;
    }
    if (context.beforeRemoving) context.beforeRemoving(id);
    auto errors = runner.remove(*e);
    result.cleaned.push_back(id);
    for (size_t i = 0; i < errors.size() && i < 5; ++i) result.errors.push_back(errors[i]);
    if (options.logActions && !options.dryRun)
      logItem(e->item, errors.size(), options, context.store);
  }
  if (!options.dryRun && context.freeSpace)
    result.freedBytes = context.freeSpace().value_or(0) - freeBefore;
  if (options.steps) *options.steps = std::move(runner.steps);
  return result;
}

std::string logText(const Item& item, size_t errorCount, std::string_view detail) {
  auto text =
      item.bytes
          ? fmt::format("{:.1f} GB", static_cast<double>(*item.bytes) / (1024.0 * 1024.0 * 1024.0))
          : std::string("? GB");
  text += " · " + std::string(rawValue(item.removal)) + " · " + std::to_string(item.paths.size()) +
          " path(s)";
  if (errorCount > 0) text += " · " + std::to_string(errorCount) + " error(s)";
  if (!detail.empty()) text += " · " + std::string(detail);
  return text;
}

CleanupSuggestion answer(CleanupSuggestion suggestion, bool accept, const NorvoConfig& config,
                         const Context& context, Result* outcome) {
  suggestion.answeredAt = std::chrono::system_clock::now();
  Result result;
  if (accept) {
    RunOptions options;
    options.detail = "suggested by an agent: " + suggestion.reason;
    result = run(suggestion.itemIDs, config, options, context);
    suggestion.cleaned = result.cleaned;
    suggestion.freedBytes = result.freedBytes;
    suggestion.status = result.cleaned.empty() ? "failed" : "accepted";
  } else {
    suggestion.status = "declined";
  }
  if (auto written = NorvoStore::resolveCleanup(suggestion, context.store); !written)
    throw std::runtime_error("the answer was not recorded: " + written.error);
  if (outcome) *outcome = std::move(result);
  return suggestion;
}

}  // namespace norvo::Cleanup
