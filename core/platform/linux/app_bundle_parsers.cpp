#include "core/platform/linux/app_bundle_parsers.hpp"

#include <pugixml.hpp>
#include <vector>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

std::optional<DesktopEntry> desktopEntry(std::string_view text) {
  DesktopEntry out;
  bool inGroup = false, sawGroup = false;
  for (std::string_view line : text_file::lines(text)) {
    line = text_file::trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[Desktop Entry]";
      sawGroup = sawGroup || inGroup;
      continue;
    }
    if (!inGroup) continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    auto key = text_file::trim(line.substr(0, eq));
    auto value = std::string(text_file::trim(line.substr(eq + 1)));
    if (key == "Name" && !out.name) out.name = value;
    if (key == "Exec" && !out.exec) out.exec = value;
    if (key == "Type" && !out.type) out.type = value;
    if (key == "Icon" && !out.icon) out.icon = value;
    if ((key == "NoDisplay" || key == "Hidden") && value == "true") out.hidden = true;
  }
  if (!sawGroup) return std::nullopt;
  return out;
}

namespace {

// The words of an Exec value: white space separates them, double quotes group
// them, and inside quotes a backslash escapes the next character.
std::vector<std::string> execWords(std::string_view exec) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

}  // namespace

std::optional<std::string> execProgram(std::string_view exec) {
  auto words = execWords(exec);
  size_t i = 0;
  if (i < words.size() && (words[i] == "env" || words[i] == "/usr/bin/env")) {
    ++i;
    while (i < words.size() && words[i].find('=') != std::string::npos) ++i;
  }
  if (i >= words.size() || words[i].empty()) return std::nullopt;
  return words[i];
}

std::optional<std::string> metainfoVersion(std::string_view xml) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) return std::nullopt;
  auto release = doc.document_element().child("releases").child("release");
  auto version = release.attribute("version").value();
  if (!version || !*version) return std::nullopt;
  return std::string(version);
}

namespace {

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  auto tail = text.substr(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = tail[i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

std::optional<AppImageName> appImageName(std::string_view fileName) {
  static constexpr std::string_view extension = ".appimage";
  if (!endsWithIgnoringCase(fileName, extension)) return std::nullopt;
  auto stem = fileName.substr(0, fileName.size() - extension.size());
  for (std::string_view arch : {"-x86_64", "_x86_64", "-amd64", "-aarch64", "-arm64", "-i386"}) {
    if (endsWithIgnoringCase(stem, arch)) {
      stem = stem.substr(0, stem.size() - arch.size());
      break;
    }
  }
  AppImageName out;
  size_t cut = std::string_view::npos;
  for (size_t i = 1; i + 1 < stem.size(); ++i) {
    if ((stem[i] == '-' || stem[i] == '_') && stem[i + 1] >= '0' && stem[i + 1] <= '9') {
      cut = i;
      break;
    }
  }
  out.name = std::string(stem.substr(0, cut));
  if (cut != std::string_view::npos) out.version = std::string(stem.substr(cut + 1));
  if (out.name.empty()) return std::nullopt;
  return out;
}

}  // namespace norvo::platform::parse
