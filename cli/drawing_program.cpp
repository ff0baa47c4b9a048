#include "cli/drawing_program.hpp"

#include <cstdio>
#include <thread>

namespace norvo::cli {

std::string drawingProgram() {
  auto self = platform::ownExecutable();
  std::filesystem::path folder = self ? std::filesystem::path(*self).parent_path() : ".";
  return (folder / "zemnorvo-draw").string();
}

bool ImageDrawing::start(const WidgetSnapshot&, const std::filesystem::path& folder) {
  reap();
  if (child_) return false;
  std::string error;
  child_ = platform::ChildProcess::spawn({drawingProgram(), "images", folder.string()}, error);
  if (!child_) {
    if (!reportedStartFailure_)
      std::fprintf(stderr, "zemnorvo: the widget images are not drawn: %s\n", error.c_str());
    reportedStartFailure_ = true;
    return false;
  }
  reportedStartFailure_ = false;
  return true;
}

void ImageDrawing::reap() {
  if (!child_) return;
  if (auto status = child_->poll()) {
    if (*status != 0)
      std::fprintf(stderr, "zemnorvo: drawing the widget images failed (status %d)\n", *status);
    child_.reset();
  } else if (std::chrono::steady_clock::now() - child_->started() > limit_) {
    child_->kill();
    std::fprintf(stderr, "zemnorvo: drawing the widget images took over %lld s; stopped\n",
                 static_cast<long long>(limit_.count()));
    child_.reset();
  }
}

void ImageDrawing::finish(std::chrono::milliseconds wait) {
  auto deadline = std::chrono::steady_clock::now() + wait;
  while (child_ && std::chrono::steady_clock::now() < deadline) {
    reap();
    if (child_) std::this_thread::sleep_for(std::chrono::milliseconds{20});
  }
  if (child_) child_->kill();
  child_.reset();
}

}  // namespace norvo::cli
