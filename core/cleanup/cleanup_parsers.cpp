#include "core/cleanup/cleanup_parsers.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <regex>

namespace norvo::Cleanup::parsers {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string lower(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int64_t number(std::string_view digits) {
  int64_t n = 0;
  for (char c : digits) {
    if (n > (std::numeric_limits<int64_t>::max() - 9) / 10)
      return std::numeric_limits<int64_t>::max();
    n = n * 10 + (c - '0');
  }
  return n;
}

std::optional<nlohmann::json> parseObject(std::string_view text) {
  auto parsed = json_codec::decode(text);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  return parsed;
}

}  // namespace

bool isVersionName(std::string_view name) {
  static const std::regex pattern(R"(^v?\d+(\.\d+){1,3}([-+._][\w.]+)?$)");
  return std::regex_match(name.begin(), name.end(), pattern);
}

std::vector<int64_t> versionNumbers(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!isDigit(text[i])) continue;
    // The look-behind: not inside a longer number, nor after a comma.
    if (i > 0 && (isDigit(text[i - 1]) || text[i - 1] == ',')) continue;
    std::vector<int64_t> parts;
    size_t j = i;
    while (j < text.size() && isDigit(text[j])) ++j;
    parts.push_back(number(text.substr(i, j - i)));
    while (parts.size() < 4 && j + 1 < text.size() && text[j] == '.' && isDigit(text[j + 1])) {
      size_t k = j + 1;
      while (k < text.size() && isDigit(text[k])) ++k;
      parts.push_back(number(text.substr(j + 1, k - j - 1)));
      j = k;
    }
    if (parts.size() >= 2) return parts;
  }
  return {};
}

int compareVersions(const std::vector<int64_t>& a, const std::vector<int64_t>& b) {
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    int64_t x = i < a.size() ? a[i] : 0;
    int64_t y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

std::optional<int64_t> brewFreedBytes(std::string_view output) {
  static const std::regex pattern(R"(approximately ([\d.]+)([KMGT]?B))");
  std::match_results<std::string_view::const_iterator> m;
  if (!std::regex_search(output.begin(), output.end(), m, pattern)) return std::nullopt;
  double value = 0;
  try {
    value = std::stod(m[1].str());
  } catch (const std::exception&) {
    return std::nullopt;
  }
  static const std::map<std::string, double> scale{
      {"B", 1}, {"KB", 1e3}, {"MB", 1e6}, {"GB", 1e9}, {"TB", 1e12}};
  return std::llround(value * scale.at(m[2].str()));
}

std::vector<std::string> brewRemovedPaths(std::string_view output) {
  static const std::string prefix = "Would remove: ";
  static const std::regex size(R"( \((\d+ files, )?[\d.]+[KMGT]?B\)$)");
  std::vector<std::string> paths;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string_view::npos) end = output.size();
    auto line = output.substr(start, end - start);
    if (line.starts_with(prefix)) {
      std::string path(line.substr(prefix.size()));
      path = std::regex_replace(path, size, "");
      if (!path.empty()) paths.push_back(std::move(path));
    }
    start = end + 1;
  }
  return paths;
}

std::vector<std::string> unavailableDevicePaths(std::string_view json) {
  std::vector<std::string> paths;
  auto parsed = parseObject(json);
  if (!parsed) return paths;
  auto devices = parsed->find("devices");
  if (devices == parsed->end() || !devices->is_object()) return paths;
  for (const auto& [runtime, list] : devices->items()) {
    if (!list.is_array()) continue;
    for (const auto& device : list) {
      if (!device.is_object()) continue;
      auto path = device.find("dataPath");
      if (path != device.end() && path->is_string()) paths.push_back(path->get<std::string>());
    }
  }
  return paths;
}

std::vector<Runtime> runtimes(std::string_view json) {
  std::vector<Runtime> out;
  auto parsed = parseObject(json);
  if (!parsed) return out;
  auto text = [](const nlohmann::json& o, const char* key) {
    auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  for (const auto& [key, entry] : parsed->items()) {
    if (!entry.is_object()) continue;
    Runtime r;
    r.id = text(entry, "identifier");
    if (r.id.empty()) continue;
    r.version = text(entry, "version");
    r.v = versionNumbers(r.version);
    if (r.v.empty() && !r.version.empty() &&
        std::all_of(r.version.begin(), r.version.end(), isDigit))
      r.v = {number(r.version)};
    auto platform = text(entry, "platformIdentifier");
    auto p = lower(platform);
    r.platform = p.find("iphone") != std::string::npos    ? "iOS"
                 : p.find("watch") != std::string::npos   ? "watchOS"
                 : p.find("appletv") != std::string::npos ? "tvOS"
                 : p.find("xr") != std::string::npos || p.find("visionos") != std::string::npos
                     ? "visionOS"
                     : platform;
    if (auto size = entry.find("sizeBytes"); size != entry.end() && size->is_number())
      r.bytes = size->get<int64_t>();
    if (auto used = text(entry, "lastUsedAt"); !used.empty()) r.used = parseIso8601(used);
    if (auto d = entry.find("deletable"); d != entry.end() && d->is_boolean())
      r.deletable = d->get<bool>();
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<Runtime> oldRuntimes(const std::vector<Runtime>& all, Date now) {
  std::map<std::string, std::vector<int64_t>> newest;
  for (const auto& r : all) {
    auto it = newest.find(r.platform);
    if (it == newest.end() || compareVersions(r.v, it->second) > 0) newest[r.platform] = r.v;
  }
  std::vector<Runtime> out;
  for (const auto& r : all) {
    bool recent = r.used && now - *r.used < std::chrono::seconds(2'592'000);
    if (r.deletable && compareVersions(r.v, newest[r.platform]) < 0 && !recent) out.push_back(r);
  }
  return out;
}

bool isLogFile(std::string_view relative) {
  static const std::regex logName(R"(\.log(\.\d+)?(\.(gz|xz|bz2|zst))?$)", std::regex::icase);
  size_t slash = relative.rfind('/');
  auto name = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
  if (std::regex_search(name.begin(), name.end(), logName)) return true;
  if (slash == std::string_view::npos) return false;
  size_t start = 0;
  while (start < slash) {
    size_t end = relative.find('/', start);
    auto folder = lower(relative.substr(start, end - start));
    if (folder == "log" || folder == "logs" || folder == "crashes" || folder == "crash reports")
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace norvo::Cleanup::parsers
