// `zemnorvo desktop`: the companion of the graphical session. It asks the
// owner about each pending suggestion of an agent with a notification whose
// buttons answer it, shows the level as a tray icon whose menu answers them
// too, and warns once when the load turns critical. The loop
// stays free of the session bus; this process carries it. One per user, as
// the loop is.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "cli/commands.hpp"
#include "cli/suggestion_answer.hpp"
#include "core/cleanup/cleanup.hpp"
#include "core/desktop/owner_question.hpp"
#include "core/desktop/tray_menu.hpp"
#include "core/platform/detached_process.hpp"
#include "core/platform/directory_watch.hpp"
#include "core/platform/instance_lock.hpp"
#include "core/platform/notification_client.hpp"
#include "core/platform/stop_signal.hpp"
#include "core/platform/tray_item.hpp"
#include "core/store/norvo_store.hpp"
#include "core/store/widget_snapshot.hpp"
#include "core/uninstall/uninstall.hpp"

namespace norvo::cli {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The records waiting for the owner, read once per refresh: the questions
// are made from them, and a new question is measured from its own record.
struct PendingRecords {
  std::vector<QuitSuggestion> quits;
  std::vector<CleanupSuggestion> cleanups;
  std::vector<UninstallSuggestion> uninstalls;

  static PendingRecords read(const fs::path& store) {
    return {NorvoStore::pendingSuggestions(store), NorvoStore::pendingCleanups(store),
            NorvoStore::pendingUninstalls(store)};
  }
  std::vector<desktop::OwnerQuestion> questions() const {
    std::vector<desktop::OwnerQuestion> all;
    for (const auto& s : quits) all.push_back(desktop::questionFor(s));
    for (const auto& s : cleanups) all.push_back(desktop::questionFor(s));
    for (const auto& s : uninstalls) all.push_back(desktop::questionFor(s));
    return all;
  }
};

// Seconds the companion measures a cleanup's items or an app and its
// leftovers before it asks; what is not done by then is left unsaid.
constexpr double kMeasureSeconds = 5;

desktop::QuestionSizes cleanupSizes() {
  auto context = Cleanup::Context::forUser();
  desktop::QuestionSizes sizes;
  for (const auto& item : Cleanup::preview(NorvoConfig::load(), kMeasureSeconds,
                                           NorvoStore::scanUserFolders(context.store), context))
    if (item.bytes) sizes.items[item.id] = *item.bytes;
  return sizes;
}

desktop::QuestionSizes uninstallSizes(const UninstallSuggestion& s) {
  auto context = Uninstall::Context::forUser();
  auto apps = Uninstall::installedApps(false, 0, context);
  desktop::QuestionSizes sizes;
  auto app = Uninstall::find(s.appPath, apps);
  if (!app) return sizes;
  std::vector<Uninstall::App> one{*app};
  Uninstall::measureApps(one, kMeasureSeconds);
  sizes.appBytes = one.front().bytes;
  // The leftovers an accepted uninstall takes: those found by name stay.
  int64_t total = 0;
  for (const auto& l : Uninstall::leftovers(*app, apps, true, kMeasureSeconds, context)) {
    if (l.byName) continue;
    if (!l.bytes) return sizes;
    total += *l.bytes;
  }
  sizes.leftoverBytes = total;
  return sizes;
}

// The question with what accepting it would free, measured now: done once,
// when the owner is first asked, never on the refreshes between.
desktop::OwnerQuestion measured(const desktop::OwnerQuestion& q, const PendingRecords& records) {
  try {
    if (q.kind == "cleanup")
      for (const auto& s : records.cleanups)
        if (s.id == q.id) return desktop::questionFor(s, cleanupSizes());
    if (q.kind == "uninstall")
      for (const auto& s : records.uninstalls)
        if (s.id == q.id) return desktop::questionFor(s, uninstallSizes(s));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo desktop: cannot measure what %s would free: %s\n", q.id.c_str(),
                 e.what());
  }
  return q;
}

platform::NotificationContent contentOf(const desktop::Notice& n, bool persistent) {
  return {n.summary, n.body, n.actions, n.urgent, persistent};
}

class Companion {
 public:
  Companion(fs::path store, platform::Language language)
      : store_(std::move(store)), language_(language) {}

  // Sends what is due, withdraws what was answered elsewhere, and answers
  // the buttons pressed; returns when the bus is gone or a stop came.
  void serve(platform::NotificationClient& client, platform::DirectoryWatch& watch,
             platform::StopSignal& stop) {
    shown_.clear();
    snapshot_ = record_file::read<NorvoSnapshot>(store_ / "status.json");
    startTray();
    uint64_t generation = client.serverGeneration();
    refresh(client);
    while (!stop.requested() && client.connected()) {
      std::vector<int> wake{watch.fd(), stop.fd()};
      if (tray_) wake.push_back(tray_->fd());
      auto pressed = client.wait(60s, wake);
      for (const auto& press : pressed) answer(client, press);
      if (tray_)
        for (int32_t id : tray_->takeClicks()) menuClick(client, id);
      noteMissingWatcher();
      bool statusChanged = false;
      for (const auto& changed : watch.changes(0ms))
        if (changed.filename() == "status.json") statusChanged = true;
      if (client.serverGeneration() != generation) {
        // A restarted server has forgotten what it showed.
        generation = client.serverGeneration();
        shown_.clear();
      }
      if (statusChanged) {
        snapshot_ = record_file::read<NorvoSnapshot>(store_ / "status.json");
        warnIfCritical(client);
      }
      refresh(client);
    }
    tray_.reset();
  }

 private:
  void startTray() {
    std::string error;
    tray_ = platform::TrayItem::start(
        desktop::trayContent(snapshot_, PendingRecords::read(store_).questions(), menu_, language_),
        error);
    if (!tray_) std::fprintf(stderr, "zemnorvo desktop: no tray icon: %s\n", error.c_str());
  }

  // Said once per process: a desktop without a tray stays without one, and
  // the notifications ask all the same.
  void noteMissingWatcher() {
    if (saidNoWatcher_ || !tray_ || tray_->watcherPresent() != false) return;
    std::fprintf(stderr,
                 "zemnorvo desktop: no StatusNotifierWatcher on the session bus, so no tray icon "
                 "until a tray starts; notifications go on\n");
    saidNoWatcher_ = true;
  }

  void refresh(platform::NotificationClient& client) {
    auto records = PendingRecords::read(store_);
    auto pending = records.questions();
    if (tray_) tray_->update(desktop::trayContent(snapshot_, pending, menu_, language_));
    std::set<std::string> shownIds;
    for (const auto& [id, _] : shown_) shownIds.insert(id);
    auto plan = desktop::plan(pending, shownIds);
    for (const auto& id : plan.withdraw) withdraw(client, id);
    bool actions = client.serverHasActions();
    for (auto q : plan.show) {
      q = measured(q, records);
      std::string error;
      auto sent = client.show(contentOf(desktop::noticeFor(q, language_, actions), true), error);
      if (!sent) {
        if (!quietAboutServer_) std::fprintf(stderr, "zemnorvo desktop: %s\n", error.c_str());
        quietAboutServer_ = true;  // said once; the next server takes them all
        return;
      }
      quietAboutServer_ = false;
      shown_[q.id] = {*sent, q};
      std::printf("asked about %s %s (notification %u)\n", q.kind.c_str(), q.id.c_str(), *sent);
      std::fflush(stdout);
    }
  }

  void answer(platform::NotificationClient& client, const platform::ActionInvoked& press) {
    for (const auto& [id, sent] : shown_) {
      if (sent.first != press.id) continue;
      auto choice = desktop::answerForAction(sent.second, press.key);
      if (choice)
        settle(client, id, *choice);
      else if (press.key == desktop::defaultAction)
        showDetails(sent.second);  // answers nothing; the buttons stay
      return;
    }
  }

  void menuClick(platform::NotificationClient& client, int32_t id) {
    auto action = menu_.actionOf(id);
    if (!action) return;
    if (action->kind == desktop::TrayAction::Kind::answer) {
      settle(client, action->suggestionId, action->answer);
      return;
    }
    showWidget();
  }

  // Answers as `zemnorvo answer` does, and withdraws the question's
  // notification: dunst and others leave one up after a button. `id` is a
  // copy: the caller's may live in shown_, which this erases from.
  void settle(platform::NotificationClient& client, std::string id, const std::string& choice) {
    auto outcome = answerSuggestion(id, choice);
    if (!outcome.answered)
      std::fprintf(stderr, "zemnorvo desktop: %s is no longer pending\n", id.c_str());
    for (const auto& line : outcome.lines) std::printf("%s\n", line.c_str());
    for (const auto& e : outcome.errors) std::fprintf(stderr, "zemnorvo desktop: %s\n", e.c_str());
    std::fflush(stdout);
    withdraw(client, id);
  }

  // A question no longer pending: its notification closed and the details
  // written for it, if any, removed.
  void withdraw(platform::NotificationClient& client, const std::string& id) {
    if (auto it = shown_.find(id); it != shown_.end()) {
      client.close(it->second.first);
      shown_.erase(it);
    }
    std::error_code ignored;  // mostly never written; a leftover harms nothing
    fs::remove(detailsFile(id), ignored);
  }

  fs::path detailsFile(const std::string& id) const {
    std::string name = "suggestion-";
    for (char c : id)
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') name += c;
    return store_ / "details" / (name + ".txt");
  }

  // The whole question in the owner's text viewer: a notification shows
  // only the first few items.
  void showDetails(const desktop::OwnerQuestion& q) {
    auto file = detailsFile(q.id);
    auto written = record_file::writeAtomically(file, desktop::detailsText(q, language_));
    std::string error = written ? std::string() : written.error;
    if (!written || !platform::spawnDetached({"/usr/bin/xdg-open", file.string()}, error))
      std::fprintf(stderr, "zemnorvo desktop: cannot show the details of %s: %s\n", q.id.c_str(),
                   error.c_str());
  }

  void showWidget() {
    auto container = WidgetSnapshot::container();
    auto image = container ? *container / "widget-large.png" : fs::path();
    std::error_code ec;
    if (image.empty() || !fs::is_regular_file(image, ec)) {
      std::fprintf(stderr,
                   "zemnorvo desktop: no widget image yet (%s); the loop draws it: zemnorvo "
                   "watch\n",
                   image.empty() ? "no data folder" : image.c_str());
      return;
    }
    std::string error;
    if (!platform::spawnDetached({"/usr/bin/xdg-open", image.string()}, error))
      std::fprintf(stderr, "zemnorvo desktop: cannot open the widget: %s\n", error.c_str());
  }

  void warnIfCritical(platform::NotificationClient& client) {
    if (!snapshot_ || !alarm_.observe(snapshot_->assessment.level, snapshot_->metrics.timestamp))
      return;
    std::string error;
    if (!client.show(contentOf(desktop::criticalNotice(*snapshot_, language_), false), error))
      std::fprintf(stderr, "zemnorvo desktop: %s\n", error.c_str());
  }

  fs::path store_;
  platform::Language language_;
  std::map<std::string, std::pair<uint32_t, desktop::OwnerQuestion>> shown_;  // by suggestion id
  desktop::CriticalAlarm alarm_;
  bool quietAboutServer_ = false;
  std::optional<NorvoSnapshot> snapshot_;  // of the last status.json read
  desktop::TrayMenu menu_;                 // kept across reconnections, so ids stay unique
  std::unique_ptr<platform::TrayItem> tray_;
  bool saidNoWatcher_ = false;
};

void runDesktop() {
  const auto& store = NorvoStore::directory();
  platform::InstanceLock lock(store / "desktop.lock");
  refuseSecondInstance(lock, "desktop");
  std::vector<fs::path> folders{store, NorvoStore::pendingDir(store),
                                store / "cleanups" / "pending", store / "uninstalls" / "pending"};
  for (const auto& folder : folders) {
    std::error_code ec;
    if (fs::create_directories(folder, ec); ec) {
      std::fprintf(stderr, "zemnorvo desktop: cannot create %s: %s\n", folder.c_str(),
                   ec.message().c_str());
      throw CLI::RuntimeError(1);
    }
  }
  std::string error;
  auto watch = platform::DirectoryWatch::open(folders, error);
  if (!watch) {
    std::fprintf(stderr, "zemnorvo desktop: %s\n", error.c_str());
    throw CLI::RuntimeError(1);
  }
  platform::StopSignal stop;
  platform::StopSignal::SignalRoute route(stop);
  Companion companion(store, platform::ownerLanguage());
  bool saidNoBus = false;
  while (!stop.requested()) {
    auto client = platform::NotificationClient::connect(error);
    if (client) {
      saidNoBus = false;
      companion.serve(*client, *watch, stop);
      if (stop.requested()) break;
      std::fprintf(stderr, "zemnorvo desktop: the session bus went away; connecting again\n");
    } else if (!saidNoBus) {
      std::fprintf(stderr, "zemnorvo desktop: %s; trying again every 5 s\n", error.c_str());
      saidNoBus = true;
    }
    stop.waitUntil(std::chrono::steady_clock::now() + 5s);
  }
}

}  // namespace

void addDesktopCommand(CLI::App& app) {
  app.add_subcommand("desktop",
                     "Ask the owner about the agents' suggestions with desktop notifications and "
                     "a tray icon")
      ->callback(runDesktop);
}

}  // namespace norvo::cli
