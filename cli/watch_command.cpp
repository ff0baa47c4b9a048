// `zemnorvo watch`: the measuring loop that keeps the shared store and the
// desktop widget fresh. One per user: a second start says so and exits 1,
// leaving the running one alone. SIGINT and SIGTERM end it with status 0.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/build_pool.hpp"
#include "cli/commands.hpp"
#include "cli/drawing_program.hpp"
#include "core/assess/compact.hpp"
#include "core/disk/disk_history.hpp"
#include "core/disk/scan_service.hpp"
#include "core/measure/norvo_config.hpp"
#include "core/platform/background_priority.hpp"
#include "core/platform/instance_lock.hpp"
#include "core/platform/stop_signal.hpp"
#include "core/sampling/metrics_server.hpp"
#include "core/sampling/sampler.hpp"
#include "core/sampling/sampling_loop.hpp"
#include "core/store/norvo_store.hpp"
#include "widget/widget_publisher.hpp"

namespace norvo::cli {

namespace {

struct WatchOptions {
  double intervalSeconds = 5;
  bool once = false;
  bool quiet = false;
  std::string listen;  // empty: no /metrics
};

// Rates and CPU shares need two readings; the first tick waits this long after
// a priming one so that even `--once` publishes real figures.
constexpr std::chrono::seconds kPrimingWait{1};

}  // namespace

void refuseSecondInstance(const platform::InstanceLock& lock, const char* command) {
  if (lock.outcome() == platform::InstanceLock::Outcome::acquired) return;
  auto pid = lock.holder();
  std::fprintf(stderr, "zemnorvo %s is already running for this user%s\n", command,
               pid ? (" (pid " + std::to_string(*pid) + ")").c_str() : "");
  throw CLI::RuntimeError(1);
}

namespace {

void runWatch(const WatchOptions& o) {
  const auto& store = NorvoStore::directory();
  platform::InstanceLock lock(store / "watch.lock");
  refuseSecondInstance(lock, "watch");

  // Only a loop asked to serve Prometheus holds a listener and its thread;
  // a taken port ends the start, before anything is measured.
  std::unique_ptr<MetricsServer> metricsServer;
  if (!o.listen.empty()) {
    std::string error;
    metricsServer = MetricsServer::start(o.listen, error);
    if (!metricsServer) {
      std::fprintf(stderr, "zemnorvo watch: %s\n", error.c_str());
      throw CLI::RuntimeError(1);
    }
  }

  platform::StopSignal stop;
  platform::StopSignal::SignalRoute route(stop);
  NorvoStore::nameThisProcessAsApp();
  // A loop killed mid-write leaves a temporary beside the record; nothing
  // else would ever remove it.
  record_file::sweepStaleTemporaries(store);
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(store, ec), end; !ec && it != end;
       it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) record_file::sweepStaleTemporaries(it->path());
  if (auto container = WidgetSnapshot::container()) record_file::sweepStaleTemporaries(*container);

  Sampler sampler(NorvoConfig::load());
  // The build-token pool follows the advice tick by tick; one tick alone
  // would leave tokens behind with nobody keeping them.
  auto pool = o.once ? nullptr : openLoopPool();
  PoolTicks poolTicks;
  ImageDrawing drawing;
  widget_publisher::WidgetPublisher publisher(
      std::chrono::seconds{10},
      [&](const WidgetSnapshot& record, const std::filesystem::path& folder) {
        return drawing.start(record, folder);
      });
  sampler.sample();
  if (stop.waitUntil(std::chrono::steady_clock::now() + kPrimingWait)) return;

  bool cannotPublish = false;
  // On a terminal the owner sees each tick; under systemd the journal stays quiet.
  bool talk = !o.quiet && ::isatty(STDOUT_FILENO);
  // Agents' scan requests are answered beside the ticks, never in them: a
  // scan may take minutes and the owner's disk comes first.
  DiskUsage::Progress scanProgress;
  std::thread scanWorker([&] {
    std::string why;
    if (!platform::lowerThisThreadPriority(why))
      std::fprintf(stderr, "zemnorvo watch: scans run at normal priority: %s\n", why.c_str());
    auto setup = [&] {
      auto roots = platform::Roots::system();
      return DiskUsage::ScanSetup{DiskUsage::placesFor(roots), DiskUsage::volumes(roots),
                                  DiskHistory::folderIn(store)};
    };
    try {
      DiskUsage::serveUntilStopped(store, setup, stop, scanProgress, std::chrono::seconds(1));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zemnorvo watch: scan worker stopped: %s\n", e.what());
    }
  });
  struct JoinOnExit {
    std::thread& worker;
    DiskUsage::Progress& progress;
    platform::StopSignal& stop;
    ~JoinOnExit() {
      stop.request();
      progress.cancel();
      worker.join();
    }
  } joinOnExit{scanWorker, scanProgress, stop};

  std::optional<std::chrono::steady_clock::time_point> lastFreeOffer;
  auto tick = [&] {
    // Reaped before sampling, so the loop never counts its own finished
    // drawing as a zombie.
    drawing.reap();
    // Read every tick so that a changed configuration applies at the next one.
    sampler.config = NorvoConfig::load();
    NorvoSnapshot snapshot = sampler.sample();
    // Said once when publishing stops working and once when it works again,
    // not every five seconds.
    auto written = NorvoStore::saveStatus(snapshot, store);
    if (!written && !cannotPublish)
      std::fprintf(stderr, "zemnorvo watch: cannot publish: %s\n", written.error.c_str());
    else if (written && cannotPublish)
      std::fprintf(stderr, "zemnorvo watch: publishing again\n");
    cannotPublish = !written;
    if (pool) tickPool(*pool, snapshot, poolTicks);
    publisher.publish(snapshot);
    if (metricsServer) metricsServer->publish(snapshot, sampler.lastSamples());
    if (talk) {
      std::printf("%s  %s\n", formatIso8601(snapshot.metrics.timestamp).c_str(),
                  Compact::line(snapshot).c_str());
      std::fflush(stdout);
    }
    // The history keeps one point an hour; offering one a minute is plenty
    // and spares rewriting the file every tick.
    auto now = std::chrono::steady_clock::now();
    if (lastFreeOffer && now - *lastFreeOffer < std::chrono::minutes(1)) return;
    lastFreeOffer = now;
    std::vector<std::pair<std::string, int64_t>> free;
    for (const auto& v : snapshot.metrics.volumes) free.emplace_back(v.path, v.freeBytes);
    std::string error;
    if (!DiskHistory::recordFree(DiskHistory::folderIn(store), free, snapshot.metrics.timestamp,
                                 &error))
      std::fprintf(stderr, "zemnorvo watch: free-space history: %s\n", error.c_str());
  };
  SamplingLoop::Options options;
  options.interval = std::chrono::duration_cast<SamplingLoop::Clock::duration>(
      std::chrono::duration<double>(o.intervalSeconds));
  if (o.once) options.maxTicks = 1;
  SamplingLoop::run(tick, options, stop, [](const std::string& message) {
    std::fprintf(stderr, "zemnorvo watch: tick failed: %s\n", message.c_str());
  });
  // --once and a stopped loop leave complete images, not a killed drawing.
  drawing.finish(std::chrono::seconds{5});
}

}  // namespace

void addWatchCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "watch", "Measure every few seconds and publish status.json and the widget record");
  static WatchOptions options;
  cmd->add_option("--interval", options.intervalSeconds, "Seconds between ticks")
      ->check(CLI::Range(1.0, 3600.0))
      ->capture_default_str();
  cmd->add_flag("--once", options.once, "Publish one tick and exit");
  cmd->add_flag("--quiet", options.quiet, "Print nothing per tick on a terminal");
  cmd->add_option("--listen", options.listen,
                  "Also serve GET /metrics for Prometheus on PORT or ADDRESS:PORT "
                  "(loopback when only a port is given)");
  cmd->callback([] { runWatch(options); });
}

}  // namespace norvo::cli
