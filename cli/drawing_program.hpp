// The short-lived drawing program `zemnorvo-draw`, installed beside
// `zemnorvo`. It alone links cairo, pango and fontconfig, so the sampling loop
// keeps their pages and caches out of its resident memory: the loop starts it
// when the widget's images are due and reaps it on later ticks.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "core/platform/child_process.hpp"
#include "core/store/widget_snapshot.hpp"

namespace norvo::cli {

// "zemnorvo-draw" in the folder of the running program.
std::string drawingProgram();

// One drawing at a time: a round that is still running when the next is due
// is left to finish, and one that takes longer than `limit` is killed.
class ImageDrawing {
 public:
  explicit ImageDrawing(std::chrono::seconds limit = std::chrono::seconds{60}) : limit_(limit) {}

  // Starts drawing the images of the saved record in `folder`; false when the
  // previous round still runs or the program could not be started (said once
  // on standard error).
  bool start(const WidgetSnapshot& record, const std::filesystem::path& folder);

  // Reaps a finished round and kills an overdue one. Called every tick so that
  // no finished child lingers as a zombie.
  void reap();

  // Waits up to `wait` for the running round, then kills it.
  void finish(std::chrono::milliseconds wait);

 private:
  std::chrono::seconds limit_;
  std::optional<platform::ChildProcess> child_;
  bool reportedStartFailure_ = false;
};

}  // namespace norvo::cli
