// `zemnorvo disk`: what fills the disk, for the owner. The tree with sizes,
// what each item is and how safe it is to remove, the advice and what grew;
// `--json` prints the report itself. A progress line goes to a terminal only,
// and Ctrl-C ends the walk with the partial report. `disk allow` and
// `disk disallow` give and take back the scanner's leave for protected folders.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/commands.hpp"
#include "core/assess/text_format.hpp"
#include "core/disk/disk_access.hpp"
#include "core/disk/disk_history.hpp"
#include "core/disk/disk_scan.hpp"
#include "core/platform/stop_signal.hpp"
#include "core/records/json_codec.hpp"
#include "core/store/norvo_store.hpp"
#include "widget/terminal_renderer.hpp"

namespace norvo::cli {

namespace {

using namespace DiskUsage;

struct DiskOptions {
  std::string path;
  int depth = 2;
  bool json = false;
};

struct Paint {
  bool on = false;
  std::string operator()(const char* code, const std::string& text) const {
    return on ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
  }
  std::string safety(Safety s, const std::string& text) const {
    return (*this)(s == Safety::safe ? "32" : s == Safety::review ? "33" : "31", text);
  }
};

std::string size(int64_t bytes) {
  double gib = static_cast<double>(bytes) / (1024.0 * 1024 * 1024);
  char buf[32];
  if (gib >= 1) {
    std::snprintf(buf, sizeof buf, "%.1f GiB", gib);
  } else {
    std::snprintf(buf, sizeof buf, "%.0f MiB", static_cast<double>(bytes) / (1024.0 * 1024));
  }
  return buf;
}

void printNode(const Node& n, int level, int depth, const Places& places, const Paint& paint) {
  Kind k = kind(n.path, places);
  std::string indent(static_cast<size_t>(level) * 2, ' ');
  std::string figure =
      n.lock ? (*n.lock == Lock::privacy ? "not allowed" : "unreadable") : size(n.bytes);
  std::printf("%s%-10s %s  %s — %s\n", indent.c_str(), figure.c_str(),
              text_format::printable(level == 0 ? n.path : n.name).c_str(),
              paint.safety(k.safety, rawValue(k.safety)).c_str(), k.what.c_str());
  if (level >= depth) return;
  // A line per folder of at least 0.5 % of the tree keeps the view readable.
  for (const auto& c : n.children)
    if (c.lock || c.bytes * 200 >= n.bytes) printNode(c, level + 1, depth, places, paint);
}

void printReport(const Report& r, int depth, const Places& places, const Paint& paint) {
  printNode(r.root, 0, depth, places, paint);
  if (!r.complete)
    std::printf("\n%s\n", paint("1", "Partial: the scan was stopped early.").c_str());
  if (!r.advice.empty()) {
    std::printf("\n%s\n", paint("1", "What can go").c_str());
    for (const auto& a : r.advice)
      std::printf("  %-9s %s  %s — %s\n    %s\n", size(a.bytes).c_str(),
                  text_format::printable(a.path).c_str(),
                  paint.safety(a.kind.safety, rawValue(a.kind.safety)).c_str(), a.kind.what.c_str(),
                  a.kind.how.c_str());
  }
  if (!r.recent.empty()) {
    std::string since =
        r.recentSince ? "since " + formatIso8601(*r.recentSince) : "in the last 7 days";
    std::printf("\n%s\n", paint("1", "What grew " + since).c_str());
    for (const auto& c : r.recent)
      std::printf("  %-9s %s\n", size(c.bytes).c_str(), text_format::printable(c.path).c_str());
  }
  if (!r.skipped.empty()) {
    std::printf("\n%s\n", paint("1", "Not counted").c_str());
    for (const auto& s : r.skipped)
      std::printf(
          "  %s (%s)\n", text_format::printable(s.path).c_str(),
          s.lock == Lock::privacy ? "allow it with: zemnorvo disk allow PATH" : "cannot be read");
  }
}

void runDisk(const DiskOptions& o) {
  const auto& store = NorvoStore::directory();
  auto roots = platform::Roots::system();
  ScanSetup setup{placesFor(roots), volumes(roots), DiskHistory::folderIn(store)};
  std::optional<std::string> path;
  if (!o.path.empty()) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(o.path, ec);
    path = (ec ? std::filesystem::path(o.path) : absolute).lexically_normal().string();
    if (path->size() > 1 && path->back() == '/') path->pop_back();
  }

  platform::StopSignal stop;
  platform::StopSignal::SignalRoute route(stop);
  Progress progress;
  Report report;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    report = scan(path, std::nullopt, currentAccess(store), 3600, progress, setup);
    done = true;
    stop.request();
  });
  bool showProgress = ::isatty(STDERR_FILENO) == 1;
  while (!done) {
    if (stop.waitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(250)) &&
        !done) {
      progress.cancel();  // Ctrl-C: the report of what was counted
      break;
    }
    if (showProgress && !done && progress.files() > 0)
      std::fprintf(stderr, "\r\033[K%lld files, %s: %s", static_cast<long long>(progress.files()),
                   size(progress.bytes()).c_str(),
                   text_format::printable(progress.path()).substr(0, 60).c_str());
  }
  worker.join();
  if (showProgress) std::fprintf(stderr, "\r\033[K");

  if (o.json) {
    std::printf("%s\n", json_codec::encodeRecord(report).c_str());
    return;
  }
  Paint paint{terminal_renderer::supportsColour(STDOUT_FILENO)};
  printReport(report, o.depth, setup.places, paint);
}

// `disk allow [PATH] [--all]`: no path opens the user folders (Desktop,
// Documents, Downloads); --all every protected folder except the cloud ones;
// a path that one folder. `disallow` takes the same back; with neither, all.
void changeGrant(bool allow, const std::string& path, bool all) {
  const auto& store = NorvoStore::directory();
  Grants grants = readGrants(store);
  std::string error;
  if (!path.empty()) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    if (allow) {
      grants.allowed.insert(absolute);
    } else {
      grants.allowed.erase(absolute);
    }
  } else if (all) {
    grants.fullDiskAccess = allow;
  } else if (allow) {
    NorvoStore::setScanUserFolders(true, store);
    if (!NorvoStore::scanUserFolders(store))
      throw std::runtime_error("cannot write the grant into " + store.string());
  } else {
    grants = Grants{};
    NorvoStore::setScanUserFolders(false, store);
  }
  if (!writeGrants(grants, store, error)) throw std::runtime_error(error);
  std::printf("Scans may now enter: %s\n", currentAccess(store).key().c_str());
}

}  // namespace

void addDiskCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("disk", "What fills the disk, what can go, and what grew");
  static DiskOptions options;
  cmd->add_option("path", options.path, "A folder to measure (default: the home and app folders)");
  cmd->add_option("--depth", options.depth, "Levels of the tree to print")
      ->check(CLI::Range(0, 20))
      ->capture_default_str();
  cmd->add_flag("--json", options.json, "Print the report as JSON");
  cmd->callback([cmd] {
    if (cmd->get_subcommands().empty()) runDisk(options);
  });

  static std::string grantPath;
  static bool grantAll = false;
  auto* allow = cmd->add_subcommand(
      "allow",
      "Let scans enter Desktop, Documents and Downloads, or the folder PATH (--all: every "
      "protected folder except cloud ones)");
  allow->add_option("folder", grantPath, "One protected folder");
  allow->add_flag("--all", grantAll, "Every protected folder");
  allow->callback([] { changeGrant(true, grantPath, grantAll); });
  auto* disallow = cmd->add_subcommand(
      "disallow", "Take back the leave given with allow (all of it without arguments)");
  disallow->add_option("folder", grantPath, "One protected folder");
  disallow->add_flag("--all", grantAll, "The leave for every protected folder");
  disallow->callback([] { changeGrant(false, grantPath, grantAll); });
}

}  // namespace norvo::cli
