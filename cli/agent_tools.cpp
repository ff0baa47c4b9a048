#include "cli/agent_tools.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cli/build_pool.hpp"
#include "cli/cleanup_tools.hpp"
#include "cli/current_status.hpp"
#include "core/assess/advisor.hpp"
#include "core/assess/compact.hpp"
#include "core/control/ai_process_control.hpp"
#include "core/disk/disk_access.hpp"
#include "core/disk/disk_digest.hpp"
#include "core/disk/disk_history.hpp"
#include "core/disk/scan_service.hpp"
#include "core/measure/classifier.hpp"
#include "core/measure/session.hpp"
#include "core/sampling/sampler.hpp"
#include "core/store/norvo_store.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/uninstall/uninstall.hpp"
#include "core/uninstall/uninstall_digest.hpp"

namespace norvo::cli {

namespace {

using mcp::Arguments;
using mcp::Param;
using mcp::ParamType;
using mcp::Tool;
using mcp::ToolContext;
using mcp::ToolError;
using mcp::ToolResult;

constexpr int64_t kMaxWaitSeconds = 1800;
// Sizes of apps and leftovers are measured at most this long per call.
constexpr double kMeasureSeconds = 10;

ToolResult statusTool(const Arguments& args, ToolContext&) {
  auto snapshot = currentSnapshot();
  auto digest =
      Compact::status(snapshot, args.integer("process_limit", 10), Session::myAgent(),
                      Compact::freeChangeFrom(DiskHistory::folderIn(NorvoStore::directory())));
  addBuildPool(digest);
  return ToolResult::structured(digest);
}

bool capacityAllows(const NorvoSnapshot& s, int64_t jobs, LoadLevel maxLevel) {
  return s.assessment.level <= maxLevel && s.assessment.recommendedParallelJobs >= jobs;
}

ToolResult waitForCapacity(const Arguments& args, ToolContext& context) {
  int64_t jobs = args.integer("jobs", 1);
  LoadLevel maxLevel = loadLevelFromRaw(args.string("max_level").value_or("busy")).value();
  int64_t timeout = args.integer("timeout_seconds", 300);
  auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  // The sampling loop measures every few seconds anyway, so its fresh status
  // is what each check reads. Only without it does the wait measure by
  // itself, with one sampler for the whole wait, so that each check covers
  // the seconds since the previous one rather than a fresh, noisier instant.
  constexpr double kFreshStatus = 6;
  std::optional<Sampler> sampler;
  auto ownSampler = [&]() -> Sampler& {
    if (!sampler) {
      sampler.emplace(NorvoConfig::load());
      sampler->sample();
    }
    return *sampler;
  };
  if (!NorvoStore::cachedStatus(kFreshStatus)) ownSampler();
  // Progress goes out only between checks: a notification sent right before
  // the result may reach the client after it, when nobody listens any more.
  context.progress(0, double(timeout), "measuring");
  NorvoSnapshot snapshot;
  for (;;) {
    if (!context.sleepFor(std::chrono::seconds(elapsed() < 1 ? 1 : 3)))
      throw ToolError("The wait was cancelled.");
    if (auto published = NorvoStore::cachedStatus(kFreshStatus)) {
      snapshot = std::move(*published);
    } else {
      auto& own = ownSampler();
      own.config = NorvoConfig::load();
      snapshot = own.sample();
    }
    bool ready = capacityAllows(snapshot, jobs, maxLevel);
    double waited = elapsed();
    if (ready || waited >= double(timeout)) {
      nlohmann::json out = {
          {"ready", ready},
          {"waited_seconds", Compact::oneDecimal(waited)},
          {"level", rawValue(snapshot.assessment.level)},
          {"recommended_parallel_jobs", snapshot.assessment.recommendedParallelJobs},
          {"recommended_build_threads", snapshot.assessment.recommendedBuildThreads},
          {"reasons", snapshot.assessment.reasons}};
      if (!ready) out["advice"] = Compact::advice(snapshot, Session::myAgent());
      return ToolResult::structured(out);
    }
    context.progress(waited, double(timeout),
                     "level " + std::string(rawValue(snapshot.assessment.level)) + ", " +
                         std::to_string(snapshot.assessment.recommendedParallelJobs) +
                         " parallel jobs allowed");
  }
}

ToolResult killAIProcess(const Arguments& args, ToolContext&) {
  auto result = AIProcessControl::stop(
      static_cast<int32_t>(*args.integer("pid")), args.boolean("force", false),
      args.boolean("include_children", false), args.string("reason").value_or(""),
      StopCaller::agent(Session::myAgent()), NorvoConfig::load());
  ToolResult out = ToolResult::structured(nlohmann::json(result));
  out.isError = !result.ok;
  return out;
}

ToolResult suggestQuitApps(const Arguments& args, ToolContext&) {
  auto snapshot = currentSnapshot();
  auto config = NorvoConfig::load();
  auto wanted = args.strings("apps");
  std::vector<QuitSuggestion::Item> items;
  if (wanted.empty()) {
    for (const auto& g : snapshot.assessment.quitCandidates)
      items.push_back(QuitSuggestion::Item::from(g));
  } else {
    for (const auto& name : wanted) {
      auto it = std::find_if(snapshot.apps.begin(), snapshot.apps.end(), [&](const AppGroup& g) {
        return g.name == name || g.bundlePath == name || (g.bundleID && *g.bundleID == name);
      });
      if (it == snapshot.apps.end())
        throw ToolError("No running app named " + name + ". Call status to see the apps.");
      if (!Advisor::mayPropose(*it, config))
        throw ToolError(it->name + " cannot be proposed for quitting.");
      items.push_back(QuitSuggestion::Item::from(*it));
    }
  }
  if (items.empty()) throw ToolError("No heavy apps of the owner to propose right now.");
  auto me = Session::myAgent();
  auto suggestion = QuitSuggestion::make(me ? "agent pid " + std::to_string(*me) : "agent",
                                         *args.string("reason"), std::move(items));
  if (auto filed = NorvoStore::addSuggestion(suggestion); !filed)
    throw ToolError("The suggestion was not filed: " + filed.error +
                    ". The owner cannot see it; tell them the store cannot be written.");
  nlohmann::json names = nlohmann::json::array();
  for (const auto& i : suggestion.items) names.push_back(i.name);
  return ToolResult::structured({{"id", suggestion.id},
                                 {"status", suggestion.status},
                                 {"apps", names},
                                 {"note",
                                  "Filed for the owner. Call suggestion_status with this id "
                                  "later to read the answer."}});
}

ToolResult suggestionStatus(const Arguments& args, ToolContext&) {
  auto id = *args.string("id");
  if (auto s = NorvoStore::suggestion(id)) return ToolResult::structured(nlohmann::json(*s));
  if (auto u = NorvoStore::uninstall(id)) return ToolResult::structured(nlohmann::json(*u));
  if (auto c = NorvoStore::cleanup(id)) return ToolResult::structured(nlohmann::json(*c));
  throw ToolError("No suggestion with id " + id + ".");
}

ToolResult installedApps(const Arguments& args, ToolContext&) {
  auto apps = Uninstall::installedApps(args.boolean("measure", true), kMeasureSeconds,
                                       Uninstall::Context::forUser());
  nlohmann::json list = nlohmann::json::array();
  for (const auto& a : apps) list.push_back(Compact::installedApp(a));
  return ToolResult::structured({{"apps", list}});
}

// The installed app an agent named; a ToolError with a sentence otherwise.
Uninstall::App namedApp(const std::string& text, const std::vector<Uninstall::App>& apps) {
  if (Uninstall::isProduct(text))
    throw ToolError("Zemra Norvo cannot be uninstalled through its own agent server.");
  auto app = Uninstall::find(text, apps);
  if (!app)
    throw ToolError("No installed app named " + text +
                    ". Call installed_apps to see the apps the owner can uninstall.");
  return *app;
}

ToolResult appLeftovers(const Arguments& args, ToolContext&) {
  auto context = Uninstall::Context::forUser();
  auto apps = Uninstall::installedApps(false, 0, context);
  auto app = namedApp(*args.string("app"), apps);
  nlohmann::json list = nlohmann::json::array();
  for (const auto& l : Uninstall::leftovers(app, apps, true, kMeasureSeconds, context))
    list.push_back(Compact::leftover(l));
  return ToolResult::structured(
      {{"app", Compact::installedApp(app)},
       {"leftovers", list},
       {"note",
        "What would go with the app if the owner accepts an uninstall; the preselected ones go "
        "by default. You cannot remove anything yourself: call suggest_uninstall."}});
}

ToolResult suggestUninstall(const Arguments& args, ToolContext&) {
  auto app = namedApp(*args.string("app"),
                      Uninstall::installedApps(false, 0, Uninstall::Context::forUser()));
  auto suggestion = UninstallSuggestion::make(*args.string("reason"), app.name, app.path);
  if (auto filed = NorvoStore::addUninstall(suggestion); !filed)
    throw ToolError("The suggestion was not filed: " + filed.error +
                    ". The owner cannot see it; tell them the store cannot be written.");
  return ToolResult::structured({{"id", suggestion.id},
                                 {"status", suggestion.status},
                                 {"app", app.name},
                                 {"path", app.path},
                                 {"note",
                                  "Filed for the owner. Call suggestion_status with this id "
                                  "later to read the answer."}});
}

ToolResult explainProcess(const Arguments& args, ToolContext&) {
  return ToolResult::text(Classifier::explain(static_cast<int32_t>(*args.integer("pid"))));
}

ToolResult recentActions(const Arguments& args, ToolContext&) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& a : NorvoStore::recentActions(args.integer("limit", 20)))
    list.push_back(Compact::action(a));
  return ToolResult::structured({{"actions", list}});
}

constexpr int64_t kMaxScanWaitSeconds = 600;

// A scan measured by this server itself, when no sampling loop runs to
// answer the request: progress goes out every second, and a cancelled call
// stops the scan at its next check.
std::string measureHere(const NorvoStore::ScanRequest& request, double deadline,
                        ToolContext& context) {
  auto roots = platform::Roots::system();
  DiskUsage::ScanSetup setup{DiskUsage::placesFor(roots), DiskUsage::volumes(roots),
                             DiskHistory::folderIn(NorvoStore::directory())};
  auto access = DiskUsage::currentAccess(NorvoStore::directory());
  DiskUsage::Progress progress;
  DiskUsage::Report report;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    report = DiskUsage::serve(request, access, deadline, progress, setup);
    done = true;
  });
  int64_t files = 0;
  while (!done) {
    if (!context.sleepFor(std::chrono::seconds(1))) progress.cancel();
    if (done || progress.cancelled()) continue;
    // Progress must rise; the file count does, the first reading excepted.
    if (progress.files() > files) {
      files = progress.files();
      context.progress(double(files), std::nullopt,
                       std::to_string(files) + " files, " + std::to_string(progress.bytes() >> 30) +
                           " GB so far: " + progress.path());
    }
  }
  worker.join();
  if (progress.cancelled()) throw ToolError("The scan was cancelled.");
  return json_codec::encodeRecord(report);
}

ToolResult diskUsage(const Arguments& args, ToolContext& context) {
  const auto& store = NorvoStore::directory();
  auto roots = platform::Roots::system();
  auto places = DiskUsage::placesFor(roots);
  int depth = static_cast<int>(args.integer("depth", 2));
  double deadline = static_cast<double>(args.integer("deadline_seconds", 120));
  std::optional<NorvoStore::ScanRequest> request;
  std::string id;
  if (auto earlier = args.string("scan_id")) {
    id = *earlier;
    if (!NorvoStore::isStorableId(id)) throw ToolError("No scan with id " + id + ".");
  } else {
    auto folder = args.string("folder");
    if (folder && (folder->empty() || folder->front() != '/'))
      throw ToolError("folder must be an absolute path.");
    request = NorvoStore::ScanRequest::make(std::nullopt, folder);
    NorvoStore::addScan(*request, store);
    id = request->id;
  }
  auto render = [&](const std::string& text) {
    auto report = json_codec::decodeAs<DiskUsage::Report>(text);
    if (!report) throw ToolError("The result of scan " + id + " cannot be read.");
    auto out = Compact::diskReport(*report, depth, places,
                                   Compact::freeChangeFrom(DiskHistory::folderIn(store)));
    out["scan_id"] = id;
    return ToolResult::structured(out);
  };
  auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  context.progress(0, deadline, "waiting for the sampling loop to measure");
  for (;;) {
    if (auto text = NorvoStore::scanResult(id, store)) return render(*text);
    if (!NorvoStore::appIsRunning(roots)) {
      if (!request)
        for (const auto& pending : NorvoStore::pendingScans(store))
          if (pending.id == id) request = pending;
      if (!request) throw ToolError("No scan with id " + id + ".");
      std::string text = measureHere(*request, std::max(1.0, deadline - elapsed()), context);
      NorvoStore::finishScan(id, text, store);
      return render(text);
    }
    if (elapsed() >= deadline)
      throw ToolError("The sampling loop is still measuring. Call disk_usage with scan_id \"" + id +
                      "\" later to read the result.");
    if (!context.sleepFor(std::chrono::seconds(1))) throw ToolError("The scan was cancelled.");
    context.progress(elapsed(), deadline, "waiting for the sampling loop to measure");
  }
}

}  // namespace

void registerAgentTools(mcp::ToolRegistry& registry) {
  registry.add(
      Tool{"status",
           "Machine load and advice",
           "How loaded this computer is now: level, reasons, how many heavy jobs and build threads "
           "you may run in parallel, advice for your session, CPU, memory, disks and the heaviest "
           "processes. Call it before builds, test suites, simulators or sub-agents.",
           {Param{"process_limit", ParamType::Integer, "How many processes to list (default 10)",
                  false, 0, 100}},
           statusTool});
  registry.add(Tool{
      "wait_for_capacity",
      "Wait until the machine has room",
      "Waits, re-measuring every few seconds, until the load level is at most max_level and at "
      "least `jobs` parallel heavy jobs are allowed, or until timeout_seconds pass. Reports "
      "progress when asked.",
      {Param{"jobs", ParamType::Integer, "Heavy jobs you want to start (default 1)", false, 1, 64},
       Param{"max_level",
             ParamType::String,
             "Highest acceptable level (default busy)",
             false,
             std::nullopt,
             std::nullopt,
             20,
             100,
             {"ok", "busy", "overloaded"}},
       Param{"timeout_seconds", ParamType::Integer, "Longest wait (default 300)", false, 1,
             kMaxWaitSeconds}},
      waitForCapacity});
  Tool kill{"kill_ai_process",
            "Stop one of your own AI processes",
            "Stops a process your session started (or one orphaned by an exited agent): SIGTERM, "
            "or SIGKILL with force. Everything else is refused with the reason.",
            {Param::pid("pid", "The process to stop"),
             Param{"force", ParamType::Boolean, "SIGKILL instead of SIGTERM"},
             Param{"include_children", ParamType::Boolean, "Also stop its descendants"},
             Param{"reason", ParamType::String, "Why, for the owner's log", false, std::nullopt,
                   std::nullopt, 500}},
            killAIProcess};
  kill.readOnly = false;
  registry.add(std::move(kill));
  Tool quit{"suggest_quit_apps",
            "Propose quitting the owner's heavy apps",
            "Files a suggestion that the owner quit some of their apps; the owner answers it. "
            "Without `apps`, the heavy apps the assessment names are proposed.",
            {Param{"reason", ParamType::String, "Why, shown to the owner", true, std::nullopt,
                   std::nullopt, 500},
             Param{"apps", ParamType::StringList, "App names or bundle paths from status", false,
                   std::nullopt, std::nullopt, 500, 20}},
            suggestQuitApps};
  quit.readOnly = false;
  registry.add(std::move(quit));
  registry.add(Tool{
      "installed_apps",
      "The owner's installed apps",
      "The apps the owner installed (Flatpak apps, AppImages, programs in their own "
      "folders) with size, version, last use and whether they run. Read-only.",
      {Param{"measure", ParamType::Boolean, "Measure sizes, within a few seconds (default true)"}},
      installedApps});
  registry.add(Tool{"app_leftovers",
                    "What an app left in the owner's data folders",
                    "The data, settings, caches and sandbox an app keeps in the owner's home, "
                    "which an uninstall would remove with it. Read-only.",
                    {Param{"app", ParamType::String, "Name, id or path from installed_apps", true,
                           std::nullopt, std::nullopt, 1000}},
                    appLeftovers});
  Tool uninstall{"suggest_uninstall",
                 "Propose uninstalling one of the owner's apps",
                 "Files a suggestion that the owner uninstall an app with its leftovers; the "
                 "owner answers it. Nothing is removed by this call.",
                 {Param{"app", ParamType::String, "Name, id or path from installed_apps", true,
                        std::nullopt, std::nullopt, 1000},
                  Param{"reason", ParamType::String, "Why, shown to the owner", true, std::nullopt,
                        std::nullopt, 500}},
                 suggestUninstall};
  uninstall.readOnly = false;
  registry.add(std::move(uninstall));
  registry.add(
      Tool{"suggestion_status",
           "Read the owner's answer",
           "The suggestion filed earlier with its status (pending, accepted, declined) "
           "and which apps were quit or kept, whether the app was uninstalled, or which "
           "cleanup items were cleaned and how much space came free.",
           {Param{"id", ParamType::String,
                  "The id suggest_quit_apps, suggest_cleanup or suggest_uninstall returned", true,
                  std::nullopt, std::nullopt, 128}},
           suggestionStatus});
  registry.add(Tool{"explain_process",
                    "Why a process is classified as it is",
                    "Explains how a process was classified (agent, AI infrastructure, agent task, "
                    "the owner's app, system) and which agent it belongs to.",
                    {Param::pid("pid", "The process to explain")},
                    explainProcess});
  registry.add(Tool{"recent_actions",
                    "What was done lately",
                    "The latest entries of the actions log: processes stopped, apps quit, by whom.",
                    {Param{"limit", ParamType::Integer, "How many (default 20)", false, 1, 200}},
                    recentActions});
  registry.add(Tool{
      "disk_usage",
      "What fills the disk",
      "Measures the home folder and the app folders (or one folder inside the home folder) and "
      "returns the size tree, the biggest files, what grew lately (grew_recently) and what can "
      "safely go (advice), each item with its safety class and how to free it. The owner's side "
      "measures; folders the owner has not opened come back as not counted. Never delete files "
      "yourself: file suggest_cleanup / suggest_uninstall instead. Reports progress when asked.",
      {Param{"folder", ParamType::String,
             "Absolute path of a folder inside the home folder (default: the whole disk)", false,
             std::nullopt, std::nullopt, 4096},
       Param{"depth", ParamType::Integer, "Levels of the tree to show (default 2)", false, 0, 8},
       Param{"deadline_seconds", ParamType::Integer, "Longest wait for the result (default 120)",
             false, 5, kMaxScanWaitSeconds},
       Param{"scan_id", ParamType::String, "Read the result of an earlier call that timed out",
             false, std::nullopt, std::nullopt, 128}},
      diskUsage});
  registerCleanupTools(registry);
}

std::string agentInstructions() {
  return "Zemra Norvo reports how loaded this computer is and how much parallel work an AI agent "
         "may start now (heavy jobs and build threads), with reasons. Check it before starting "
         "builds, test suites or other heavy commands, and pace yourself when it says the machine "
         "is busy. You may stop only runaway processes of your own session; everything that "
         "touches the owner's apps or files is filed as a suggestion for the owner to answer. "
         "When the disk fills up, call disk_usage to see what took the space and what can "
         "safely go; installed_apps and app_leftovers show what an app takes, and "
         "suggest_uninstall asks the owner to remove one; cleanup_preview lists the caches and "
         "old files that can go, and suggest_cleanup asks the owner to clean them.";
}

}  // namespace norvo::cli
