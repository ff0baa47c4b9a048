#include "core/platform/linux/identity_parsers.hpp"

#include <map>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

namespace {

std::string unquote(std::string_view v) {
  v = text_file::trim(v);
  if (!v.empty() && (v.front() == '"' || v.front() == '\'')) {
    // A value cut short keeps what it has rather than its stray quote.
    bool closed = v.size() >= 2 && v.back() == v.front();
    v = v.substr(1, v.size() - (closed ? 2 : 1));
  }
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) ++i;  // shell-style escapes
    out += v[i];
  }
  return out;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Board makers leave these in fields they do not fill.
bool placeholder(std::string_view value) {
  static constexpr std::string_view prefixes[] = {
      "to be filled",  "system product", "system manufacturer", "system version",
      "not specified", "not applicable", "type1productconfigid"};
  static constexpr std::string_view whole[] = {"default string", "none",    "o.e.m.", "oem",
                                               "invalid",        "unknown", "x.x",    "0123456789"};
  auto text = lowered(value);
  for (auto prefix : prefixes)
    if (text.starts_with(prefix)) return true;
  for (auto word : whole)
    if (text == word) return true;
  return false;
}

// A version that is only a revision ("1.0", "Rev 1.0", "V1.2") names nothing.
bool revisionOnly(std::string_view value) {
  auto text = lowered(value);
  if (text.starts_with("rev")) return true;
  if (text.starts_with("v")) text.erase(0, 1);
  return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

// "20XW0055GE", "MS-7D25": one word, capitals and digits only.
bool partNumber(std::string_view value) {
  bool digit = false;
  for (char c : value) {
    if (c == ' ' || (c >= 'a' && c <= 'z')) return false;
    digit = digit || (c >= '0' && c <= '9');
  }
  return digit;
}

std::optional<std::string> usable(const std::optional<std::string>& field) {
  if (!field) return std::nullopt;
  auto value = std::string(text_file::trim(*field));
  if (value.empty() || placeholder(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> machineModel(const DmiIdentity& dmi) {
  auto name = usable(dmi.productName);
  auto version = usable(dmi.productVersion);
  if (version && revisionOnly(*version)) version.reset();
  auto family = usable(dmi.productFamily);
  std::optional<std::string> model;
  for (const auto* candidate : {&name, &version, &family})
    if (*candidate && !partNumber(**candidate)) {
      model = **candidate;
      break;
    }
  if (!model) model = name ? name : family;
  if (!model) return std::nullopt;
  if (auto vendor = usable(dmi.vendor)) {
    std::string word = vendor->substr(0, vendor->find_first_of(" ,"));
    // "LENOVO", "TOSHIBA": shouting names are written as the makers write them
    // elsewhere; short ones ("HP", "ASUS", "QEMU") are initials.
    if (word.size() > 4 && !partNumber(word) && lowered(word) != word &&
        word.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos)
      word = word.substr(0, 1) + lowered(word.substr(1));
    if (!lowered(*model).starts_with(lowered(word))) model = word + " " + *model;
  }
  return model;
}

std::optional<std::string> cpuModelName(std::string_view cpuinfo) {
  std::map<std::string, std::string, std::less<>> first;
  text_file::forEachLine(cpuinfo, [&](std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    auto key = std::string(text_file::trim(line.substr(0, colon)));
    auto value = text_file::trim(line.substr(colon + 1));
    if (!value.empty()) first.emplace(key, std::string(value));
  });
  for (const char* key : {"model name", "Model", "Hardware"})
    if (auto it = first.find(key); it != first.end()) return it->second;
  return std::nullopt;
}

std::optional<std::string> osPrettyName(std::string_view osRelease) {
  std::map<std::string, std::string, std::less<>> fields;
  text_file::forEachLine(osRelease, [&](std::string_view line) {
    line = text_file::trim(line);
    if (line.empty() || line.front() == '#') return;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return;
    fields.emplace(std::string(line.substr(0, eq)), unquote(line.substr(eq + 1)));
  });
  if (auto it = fields.find("PRETTY_NAME"); it != fields.end() && !it->second.empty())
    return it->second;
  auto name = fields.find("NAME");
  if (name == fields.end() || name->second.empty()) return std::nullopt;
  auto version = fields.find("VERSION");
  if (version == fields.end() || version->second.empty()) return name->second;
  return name->second + " " + version->second;
}

std::optional<std::string> osVersionText(const std::optional<std::string>& prettyName,
                                         const std::optional<std::string>& kernelRelease) {
  if (prettyName && kernelRelease) return *prettyName + ", Linux " + *kernelRelease;
  if (prettyName) return prettyName;
  if (kernelRelease) return "Linux " + *kernelRelease;
  return std::nullopt;
}

}  // namespace norvo::platform::parse
