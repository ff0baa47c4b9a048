#include "core/updates/appcast_reader.hpp"

#include <pugixml.hpp>

namespace norvo::AppUpdates {

namespace {

std::string trimmed(const std::string& s) {
  const char* space = " \t\r\n";
  auto begin = s.find_first_not_of(space);
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(space) - begin + 1);
}

// The reader's state while the document is replayed as start, text and end
// events; names are the qualified ones ("sparkle:version") as written.
struct Reader {
  std::vector<AppcastItem> items;
  std::optional<AppcastItem> item;
  std::string text;

  void start(const pugi::xml_node& node) {
    text.clear();
    std::string_view name = node.name();
    if (name == "item") {
      item.emplace();
    } else if (name == "enclosure" && item) {
      if (auto a = node.attribute("sparkle:version")) item->build = a.value();
      if (auto a = node.attribute("sparkle:shortVersionString")) item->shortVersion = a.value();
    }
  }

  void end(std::string_view name) {
    if (!item) return;
    auto value = trimmed(text);
    if (name == "sparkle:version") {
      if (!value.empty()) item->build = value;
    } else if (name == "sparkle:shortVersionString") {
      if (!value.empty()) item->shortVersion = value;
    } else if (name == "sparkle:releaseNotesLink") {
      if (!value.empty()) item->notes = value;
    } else if (name == "sparkle:minimumSystemVersion") {
      if (!value.empty()) item->minimumOS = value;
    } else if (name == "channel" || name == "sparkle:channel") {
      item->onChannel = true;
    } else if (name == "item") {
      items.push_back(std::move(*item));
      item.reset();
    }
  }

  // Depth first without recursion: a feed nested a million levels deep must
  // not exhaust the stack.
  void walk(const pugi::xml_node& root) {
    start(root);
    auto node = root.first_child();
    while (node) {
      if (node.type() == pugi::node_element) {
        start(node);
        if (auto child = node.first_child()) {
          node = child;
          continue;
        }
        end(node.name());
      } else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        text += node.value();
      }
      while (!node.next_sibling()) {
        node = node.parent();
        if (node == root) {
          end(root.name());
          return;
        }
        end(node.name());
      }
      node = node.next_sibling();
    }
    end(root.name());
  }
};

}  // namespace

std::optional<std::vector<AppcastItem>> readAppcast(std::string_view xml) {
  pugi::xml_document doc;
  // Whitespace-only text is kept: a streaming parser reports it too.
  auto result = doc.load_buffer(xml.data(), xml.size(),
                                pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_cdata);
  if (!result || !doc.document_element()) return std::nullopt;
  Reader reader;
  reader.walk(doc.document_element());
  return std::move(reader.items);
}

}  // namespace norvo::AppUpdates
