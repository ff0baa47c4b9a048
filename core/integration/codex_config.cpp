#include "core/integration/codex_config.hpp"

#include <toml++/toml.h>

#include <sstream>
#include <vector>

#include "core/integration/config_changes.hpp"

namespace norvo::codex_config {

namespace {

constexpr std::string_view kServers = "mcp_servers";

std::optional<toml::table> parse(std::string_view text, std::string& error) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error& e) {
    const auto& where = e.source().begin;
    error = "it is not valid TOML (line " + std::to_string(where.line) + ": " +
            std::string(e.description()) + ")";
    return std::nullopt;
  }
}

std::string_view trim(std::string_view text) {
  auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Whether the line is the header [mcp_servers.zemra-norvo], in any of the
// spellings TOML allows for it (quoted parts, spaces around the dot, a
// trailing comment). Parts with escapes are never ours.
bool isOurHeader(std::string_view line) {
  line = trim(line);
  if (line.size() < 2 || line[0] != '[' || line[1] == '[') return false;
  std::vector<std::string> parts{""};
  char quote = 0;
  size_t i = 1;
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        parts.back() += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '.') {
      parts.emplace_back();
    } else if (c == ']') {
      break;
    } else if (c != ' ' && c != '\t') {
      parts.back() += c;
    }
  }
  if (i == line.size()) return false;
  auto after = trim(line.substr(i + 1));
  if (!after.empty() && after[0] != '#') return false;
  return parts.size() == 2 && parts[0] == kServers && parts[1] == Integration::kServerName;
}

bool isHeader(std::string_view line) {
  line = trim(line);
  return !line.empty() && line[0] == '[';
}

bool isBlankOrComment(std::string_view line) {
  line = trim(line);
  return line.empty() || line[0] == '#';
}

// `text` without the lines of every [mcp_servers.zemra-norvo] table: the
// blank lines before its header, the header and what follows up to the next
// header, less the blank and comment lines just before that header (they
// introduce the next table). Runs of line feeds left at the end shrink to one.
std::string withoutOurTable(std::string_view text) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<bool> drop(lines.size(), false);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!isOurHeader(lines[i])) continue;
    size_t end = i + 1;
    while (end < lines.size() && !isHeader(lines[end])) ++end;
    size_t last = end;
    if (end < lines.size())
      while (last > i + 1 && isBlankOrComment(lines[last - 1])) --last;
    size_t first = i;
    while (first > 0 && trim(lines[first - 1]).empty()) --first;
    for (size_t k = first; k < last; ++k) drop[k] = true;
    i = end - 1;
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (drop[i]) continue;
    out.append(lines[i]);
    out += '\n';
  }
  while (out.size() >= 2 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n')
    out.pop_back();
  if (out.find_first_not_of(" \t\r\n") == std::string::npos) out.clear();
  return out;
}

// A TOML basic string.
std::string basicString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string serialised(const toml::table& document) {
  std::ostringstream out;
  out << document;
  std::string text = out.str();
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

toml::table entry(const std::string& linkPath) {
  return toml::table{{"command", linkPath}, {"args", toml::array{"mcp"}}};
}

}  // namespace

std::optional<std::string> withServer(std::string_view text, const std::string& linkPath,
                                      std::string& error) {
  auto document = parse(text, error);
  if (!document) return std::nullopt;
  toml::table wanted = *document;
  if (!wanted[kServers].is_table()) wanted.insert_or_assign(kServers, toml::table{});
  wanted[kServers].as_table()->insert_or_assign(Integration::kServerName, entry(linkPath));
  if (wanted == *document) return std::string(text);

  std::string edited = withoutOurTable(text);
  if (!edited.empty()) edited += edited.back() == '\n' ? "\n" : "\n\n";
  edited += "[mcp_servers." + std::string(Integration::kServerName) +
            "]\ncommand = " + basicString(linkPath) + "\nargs = [\"mcp\"]\n";
  std::string ignored;
  if (auto reparsed = parse(edited, ignored); reparsed && *reparsed == wanted) return edited;
  return serialised(wanted);
}

std::optional<std::string> withoutServer(std::string_view text, std::string& error) {
  auto document = parse(text, error);
  if (!document) return std::nullopt;
  auto* servers = (*document)[kServers].as_table();
  if (!servers || !servers->contains(Integration::kServerName)) return std::string(text);
  toml::table wanted = *document;
  wanted[kServers].as_table()->erase(Integration::kServerName);
  // The owner may have written an empty [mcp_servers] themselves; either
  // form is the same configuration.
  toml::table bare = wanted;
  if (bare[kServers].as_table()->empty()) bare.erase(kServers);

  std::string edited = withoutOurTable(text);
  std::string ignored;
  if (auto reparsed = parse(edited, ignored);
      reparsed && (*reparsed == wanted || *reparsed == bare))
    return edited;
  return serialised(bare);
}

bool hasServer(std::string_view text) {
  std::string ignored;
  auto document = parse(text, ignored);
  return document && (*document)[kServers][Integration::kServerName].is_table();
}

}  // namespace norvo::codex_config
