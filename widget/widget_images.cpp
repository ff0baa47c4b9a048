#include "widget/widget_images.hpp"

#include <cstdio>
#include <exception>

#include "core/platform/record_file.hpp"

namespace norvo::widget_publisher {

std::string imageName(LoadWidgetView::Family family, WidgetAppearance appearance) {
  return "widget-" + std::string(rawValue(family)) +
         (appearance == WidgetAppearance::dark ? "-dark" : "") + ".png";
}

int refreshImages(const std::optional<WidgetSnapshot>& record,
                  const std::filesystem::path& folder) {
  int written = 0;
  for (auto family : {LoadWidgetView::Family::small, LoadWidgetView::Family::medium,
                      LoadWidgetView::Family::large}) {
    for (auto appearance : {WidgetAppearance::light, WidgetAppearance::dark}) {
      auto name = imageName(family, appearance);
      try {
        auto image = widget_renderer::png(LoadWidgetView{record, family, platform::ownerLanguage()},
                                          appearance);
        if (image.bytes.empty()) {
          std::fprintf(stderr, "zemnorvo: %s could not be drawn\n", name.c_str());
        } else if (auto saved = record_file::writeAtomically(folder / name, image.bytes); !saved) {
          std::fprintf(stderr, "zemnorvo: %s\n", saved.error.c_str());
        } else {
          ++written;
        }
      } catch (const std::exception& e) {
        // A failed image leaves the previous one in place; the next round retries.
        std::fprintf(stderr, "zemnorvo: %s could not be drawn: %s\n", name.c_str(), e.what());
      }
    }
  }
  return written;
}

}  // namespace norvo::widget_publisher
