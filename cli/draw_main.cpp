// `zemnorvo-draw`: the only program of the product that links the drawing
// libraries. `zemnorvo widget` hands its arguments here, and the sampling loop
// starts `zemnorvo-draw images FOLDER` when the widget's images are due.
#include <cstdio>
#include <exception>

#include "cli/commands.hpp"
#include "core/store/widget_snapshot.hpp"
#include "widget/widget_images.hpp"

// Only read under LeakSanitizer: fontconfig keeps process-long caches that it
// never frees by design.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
  CLI::App app{"Draws the Zemra Norvo widget", "zemnorvo-draw"};
  app.require_subcommand(1);
  norvo::cli::addWidgetCommand(app);
  auto* images = app.add_subcommand(
      "images", "Draw the six widget images from FOLDER/widget.json into FOLDER");
  std::string folder;
  images->add_option("FOLDER", folder, "The widget's shared container")->required();
  int status = 0;
  images->callback([&] {
    auto record = norvo::WidgetSnapshot::load(std::filesystem::path(folder) / "widget.json");
    status = norvo::widget_publisher::refreshImages(record, folder) == 6 ? 0 : 1;
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemnorvo-draw: %s\n", e.what());
    return 1;
  }
  return status;
}
