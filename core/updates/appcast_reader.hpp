// Reads an appcast (an RSS feed with the "sparkle:" elements) into its items,
// the way a streaming XML parser sees it: the collected text is cleared at
// the start of every element, so an element's text is what came after the
// last element that started inside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::AppUpdates {

struct AppcastItem {
  std::string build;
  std::optional<std::string> shortVersion;
  std::optional<std::string> notes;
  std::optional<std::string> minimumOS;
  bool onChannel = false;  // a channel other than the default (beta, …)
};

// The items of the feed in document order; absent when it is not XML.
std::optional<std::vector<AppcastItem>> readAppcast(std::string_view xml);

}  // namespace norvo::AppUpdates
