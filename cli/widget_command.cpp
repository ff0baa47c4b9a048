#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>

#include "cli/commands.hpp"
#include "core/platform/record_file.hpp"
#include "widget/load_provider.hpp"
#include "widget/terminal_renderer.hpp"
#include "widget/widget_renderer.hpp"

namespace norvo::cli {

namespace {

struct WidgetOptions {
  std::string family = "medium";
  std::string format = "text";
  std::string appearance = "light";
  std::string out;
};

void runWidget(const WidgetOptions& o) {
  auto family = widgetFamilyFromRaw(o.family).value_or(LoadWidgetView::Family::medium);
  auto appearance = o.appearance == "dark" ? WidgetAppearance::dark : WidgetAppearance::light;
  // The same road as the desktop: one timeline entry with the stored record.
  LoadProvider provider;
  auto timeline = provider.timeline(std::chrono::system_clock::now());
  LoadWidgetView view{timeline.entries.front().snapshot, family, platform::ownerLanguage()};

  std::string bytes;
  if (o.format == "png") {
    bytes = widget_renderer::png(view, appearance).bytes;
  } else if (o.format == "svg") {
    bytes = widget_renderer::svg(view, appearance).bytes;
  } else {
    bool colour = o.out.empty() && terminal_renderer::supportsColour(STDOUT_FILENO);
    bytes = terminal_renderer::render(view, colour);
  }
  if (bytes.empty()) throw std::runtime_error("the widget could not be drawn");

  if (!o.out.empty()) {
    // The owner names an existing folder; a mistyped one is not made for them.
    auto written = record_file::writeAtomically(o.out, bytes, record_file::Folders::mustExist);
    if (!written) throw std::runtime_error(written.error);
    return;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
    throw std::runtime_error("cannot write to standard output");
  std::fflush(stdout);
}

}  // namespace

void addWidgetCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "widget", "Draw the desktop widget from the stored record (or the no-record view)");
  static WidgetOptions options;
  cmd->add_option("--family", options.family, "Widget size")
      ->check(CLI::IsMember({"small", "medium", "large"}))
      ->capture_default_str();
  cmd->add_option("--format", options.format, "png, svg or text for a terminal")
      ->check(CLI::IsMember({"png", "svg", "text"}))
      ->capture_default_str();
  cmd->add_option("--appearance", options.appearance, "Light or dark colours (images)")
      ->check(CLI::IsMember({"light", "dark"}))
      ->capture_default_str();
  cmd->add_option("--out", options.out, "Write to this file (atomically) instead of stdout");
  cmd->callback([] { runWidget(options); });
}

}  // namespace norvo::cli
