#include <cstdio>

#include "cli/build_pool.hpp"
#include "cli/commands.hpp"
#include "cli/current_status.hpp"
#include "cli/status_bar_output.hpp"
#include "core/assess/compact.hpp"
#include "core/disk/disk_digest.hpp"
#include "core/disk/disk_history.hpp"
#include "core/jobserver/build_command.hpp"
#include "core/measure/session.hpp"
#include "core/platform/store_directory.hpp"

namespace norvo::cli {

void addStatusCommands(CLI::App& app) {
  auto* status = app.add_subcommand("status", "The status digest agents read, as JSON");
  static bool oneLine = false;
  static int64_t limit = 10;
  status->add_flag("--line", oneLine, "Only the one-line summary");
  status->add_option("--limit", limit, "How many processes to list")->check(CLI::Range(0, 100));
  // The status bars of tiling desktops (waybar, i3blocks, polybar).
  static std::string barFormat;
  static bool watch = false;
  status->add_option("--format", barFormat, "A status bar's form: waybar, i3blocks or text")
      ->check(CLI::IsMember({"waybar", "i3blocks", "text"}));
  status->add_flag("--watch", watch, "With --format: one line per tick of the loop, until closed");
  status->callback([] {
    if (!barFormat.empty()) return printStatusBar(barFormat, watch);
    if (watch) throw CLI::ValidationError("--watch", "needs --format");
    auto snapshot = currentSnapshot();
    if (oneLine) {
      std::printf("%s\n", Compact::line(snapshot).c_str());
    } else {
      auto digest =
          Compact::status(snapshot, limit, Session::myAgent(),
                          Compact::freeChangeFrom(DiskHistory::folderIn(NorvoStore::directory())));
      addBuildPool(digest);
      std::printf("%s\n", Compact::json(digest, true).c_str());
    }
  });

  auto* advice = app.add_subcommand("advice", "The advice addressed to the calling agent");
  advice->callback([] {
    auto snapshot = currentSnapshot();
    for (const auto& sentence : Compact::advice(snapshot, Session::myAgent()))
      std::printf("%s\n", sentence.c_str());
    if (livePool()) std::printf("%s\n", jobserver::poolAdvice().c_str());
  });
}

}  // namespace norvo::cli
