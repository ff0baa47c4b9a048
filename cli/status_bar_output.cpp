#include "cli/status_bar_output.hpp"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "cli/current_status.hpp"
#include "core/desktop/status_bar.hpp"
#include "core/platform/directory_watch.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::cli {

namespace {

// A bar that closed its end of the pipe is done with us.
bool printLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void watchStatus(status_bar::Format format, platform::Language language) {
  const auto& store = NorvoStore::directory();
  std::error_code ec;
  std::filesystem::create_directories(store, ec);
  std::string error;
  auto watch = ec ? std::nullopt : platform::DirectoryWatch::open({store}, error);
  if (!watch) {
    std::fprintf(
        stderr, "zemnorvo: %s\n",
        ec ? ("cannot create " + store.string() + ": " + ec.message()).c_str() : error.c_str());
    throw CLI::RuntimeError(1);
  }
  Date last{};
  auto show = [&](const NorvoSnapshot& snapshot) {
    if (snapshot.metrics.timestamp <= last) return true;
    last = snapshot.metrics.timestamp;
    return printLine(status_bar::render(format, snapshot, language, true));
  };
  // The loop's latest tick, unless it is so old that the level it shows is
  // long gone; then the bar stays empty until the loop publishes.
  if (auto fresh = NorvoStore::cachedStatus(30, store); fresh && !show(*fresh)) return;
  auto statusFile = store / "status.json";
  for (;;) {
    for (const auto& changed : watch->changes(std::chrono::hours(1))) {
      if (changed == store) {
        std::fprintf(stderr, "zemnorvo: the store folder %s went away\n", store.c_str());
        throw CLI::RuntimeError(1);
      }
      if (changed != statusFile) continue;
      if (auto snapshot = record_file::read<NorvoSnapshot>(statusFile);
          snapshot && !show(*snapshot))
        return;
    }
  }
}

}  // namespace

void printStatusBar(const std::string& formatName, bool watch) {
  auto format = status_bar::formatFromName(formatName);
  if (!format) throw CLI::ValidationError("--format", "unknown format " + formatName);
  auto language = platform::ownerLanguage();
  if (watch) return watchStatus(*format, language);
  printLine(status_bar::render(*format, currentSnapshot(), language));
}

}  // namespace norvo::cli
