#include "core/platform/linux/process_parsers.hpp"

#include <array>
#include <filesystem>
#include <pugixml.hpp>
#include <vector>

#include "core/platform/linux/proc_parsers.hpp"
#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

using text_file::parseSigned;
using text_file::parseUnsigned;
using text_file::trim;

namespace {

// Appends one UTF-8 sequence starting at `i` (or U+FFFD for a bad one) and
// returns the index after what was consumed.
size_t appendRepaired(std::string_view s, size_t i, std::string& out) {
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return i + 1;
  }
  size_t length = 0;
  uint32_t code = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    code = c & 0x07;
  } else {
    out.append(replacement);
    return i + 1;
  }
  if (i + length > s.size()) {
    out.append(replacement);
    return i + 1;
  }
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      out.append(replacement);
      return i + 1;
    }
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  bool invalid = (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF;
  if (overlong || invalid) {
    out.append(replacement);
    return i + 1;
  }
  out.append(s.substr(i, length));
  return i + length;
}

std::string unescapeUnitName(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      auto hex = [](char h) -> int {
        if (h >= '0' && h <= '9') return h - '0';
        if (h >= 'a' && h <= 'f') return h - 'a' + 10;
        if (h >= 'A' && h <= 'F') return h - 'A' + 10;
        return -1;
      };
      int hi = hex(text[i + 2]), lo = hex(text[i + 3]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::string_view> splitDashes(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  for (;;) {
    size_t end = text.find('-', pos);
    parts.push_back(text.substr(pos, end == std::string_view::npos ? end : end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return parts;
}

std::optional<std::string> appIdFromUnit(std::string_view unit) {
  static constexpr std::string_view prefix = "app-";
  if (unit.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::string_view rest;
  bool scope = false;
  for (std::string_view suffix : {".scope", ".service", ".slice"}) {
    if (unit.size() > prefix.size() + suffix.size() &&
        unit.substr(unit.size() - suffix.size()) == suffix) {
      rest = unit.substr(prefix.size(), unit.size() - prefix.size() - suffix.size());
      scope = suffix == ".scope";
      break;
    }
  }
  if (rest.empty()) return std::nullopt;
  if (!scope) rest = rest.substr(0, rest.find('@'));
  auto parts = splitDashes(rest);
  if (scope) {
    if (parts.size() < 2) return std::nullopt;
    parts.pop_back();  // the launcher's random suffix
  }
  // One part is the id alone; two are launcher and id. More means a launcher
  // that did not escape its dashes, whose id cannot be told apart.
  if (parts.empty() || parts.size() > 2 || parts.back().empty()) return std::nullopt;
  return unescapeUnitName(parts.back());
}

}  // namespace

std::optional<PidStat> pidStat(std::string_view text) {
  auto open = text.find('(');
  auto close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  PidStat out;
  auto pid = parseSigned(trim(text.substr(0, open)));
  if (!pid || *pid <= 0 || *pid > INT32_MAX) return std::nullopt;
  out.pid = static_cast<int32_t>(*pid);
  out.command = std::string(text.substr(open + 1, close - open - 1));
  // Fields 3 (state) to 22 (starttime); proc(5) numbers them from 1. Read
  // in place rather than split: this runs for every process on every tick,
  // and the fields after starttime are never needed.
  std::array<std::string_view, 20> fields;
  std::string_view rest = trim(text.substr(close + 1));
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t at = 0;
  for (auto& field : fields) {
    while (at < rest.size() && blank(rest[at])) ++at;
    if (at == rest.size()) return std::nullopt;
    size_t begin = at;
    while (at < rest.size() && !blank(rest[at])) ++at;
    field = rest.substr(begin, at - begin);
  }
  if (fields[0].size() != 1) return std::nullopt;
  out.state = fields[0][0];
  auto ppid = parseSigned(fields[1]);
  auto utime = parseUnsigned(fields[11]);
  auto stime = parseUnsigned(fields[12]);
  auto start = parseUnsigned(fields[19]);
  if (!ppid || *ppid < 0 || *ppid > INT32_MAX || !utime || !stime || !start) return std::nullopt;
  out.ppid = static_cast<int32_t>(*ppid);
  out.utimeTicks = *utime;
  out.stimeTicks = *stime;
  out.startTicks = *start;
  return out;
}

std::optional<uint64_t> statusFootprint(std::string_view text) {
  std::optional<uint64_t> anon, swap;
  for (std::string_view line : text_file::lines(text)) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    auto key = line.substr(0, colon);
    if (key != "RssAnon" && key != "VmSwap") continue;
    auto value = trim(line.substr(colon + 1));
    if (value.size() < 3 || value.substr(value.size() - 3) != " kB") continue;
    auto kb = parseUnsigned(trim(value.substr(0, value.size() - 3)));
    if (!kb) continue;
    (key == "RssAnon" ? anon : swap) = *kb * 1024;
  }
  if (!anon && !swap) return std::nullopt;
  return anon.value_or(0) + swap.value_or(0);
}

std::optional<uint64_t> statmFootprint(std::string_view text, uint64_t pageSize) {
  auto f = text_file::fields(trim(text));
  if (f.size() < 3) return std::nullopt;
  auto size = parseUnsigned(f[0]), resident = parseUnsigned(f[1]), shared = parseUnsigned(f[2]);
  if (!size || !resident || !shared || *size == 0 || *shared > *resident) return std::nullopt;
  return (*resident - *shared) * pageSize;
}

std::string commandLineArguments(std::string_view cmdline) {
  // A trailing NUL ends the last argument; it does not start an empty one.
  if (!cmdline.empty() && cmdline.back() == '\0') cmdline.remove_suffix(1);
  std::string out;
  size_t characters = 0;
  size_t i = 0;
  while (i < cmdline.size()) {
    if (characters == 400) {
      out.append("…");
      return out;
    }
    if (cmdline[i] == '\0') {
      out.push_back(' ');
      ++i;
    } else {
      i = appendRepaired(cmdline, i, out);
    }
    ++characters;
  }
  return out;
}

std::optional<std::string> appIdFromCgroup(std::string_view text) {
  // The unified hierarchy ("0::") names the units on current systems; on a
  // hybrid setup the systemd tree ("name=systemd") holds the same path.
  std::optional<std::string_view> unified, named;
  for (std::string_view line : text_file::lines(text)) {
    auto first = line.find(':');
    auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    auto controllers = line.substr(first + 1, second - first - 1);
    auto path = line.substr(second + 1);
    if (line.substr(0, first) == "0" && controllers.empty()) unified = path;
    if (controllers == "name=systemd") named = path;
  }
  auto path = unified ? *unified : named ? *named : std::string_view{};
  while (!path.empty()) {
    auto slash = path.rfind('/');
    auto unit = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (auto id = appIdFromUnit(unit)) return id;
    if (slash == std::string_view::npos) break;
    path = path.substr(0, slash);
  }
  return std::nullopt;
}

std::optional<std::string> environValue(std::string_view text, std::string_view name) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\0', pos);
    if (end == std::string_view::npos) end = text.size();
    auto entry = text.substr(pos, end - pos);
    if (entry.size() > name.size() && entry.substr(0, name.size()) == name &&
        entry[name.size()] == '=')
      return std::string(entry.substr(name.size() + 1));
    pos = end + 1;
  }
  return std::nullopt;
}

std::optional<std::string> startedPath(
    const StartFacts& facts,
    const std::function<std::optional<std::string>(const std::string&)>& resolve) {
  auto argv0 = facts.cmdline.substr(0, facts.cmdline.find('\0'));
  // A login shell is started as "-bash".
  if (!argv0.empty() && argv0[0] == '-') argv0.remove_prefix(1);
  if (argv0.empty() || facts.command.empty()) return std::nullopt;
  auto slash = argv0.rfind('/');
  auto base = slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
  // comm is the base name of the file given to execve, cut to 15 bytes.
  if (base.substr(0, 15) != facts.command) return std::nullopt;

  auto absolute = [&](std::string_view dir, std::string_view file) -> std::optional<std::string> {
    std::filesystem::path p(dir.empty() ? facts.cwd : dir);
    if (p.is_relative()) p = std::filesystem::path(facts.cwd) / p;
    if (p.is_relative()) return std::nullopt;
    return (p / file).lexically_normal().string();
  };
  auto isTheExecutable = [&](const std::string& candidate) {
    auto target = resolve(candidate);
    return target && (facts.executable.empty() || *target == facts.executable);
  };

  if (slash != std::string_view::npos) {
    auto p =
        argv0[0] == '/'
            ? std::optional<std::string>(std::filesystem::path(argv0).lexically_normal().string())
            : absolute(facts.cwd, argv0);
    if (p && isTheExecutable(*p)) return p;
    return std::nullopt;
  }
  size_t pos = 0;
  while (pos <= facts.pathList.size()) {
    size_t end = facts.pathList.find(':', pos);
    if (end == std::string_view::npos) end = facts.pathList.size();
    // An empty entry is the working folder.
    if (auto p = absolute(facts.pathList.substr(pos, end - pos), argv0); p && isTheExecutable(*p))
      return p;
    pos = end + 1;
  }
  return std::nullopt;
}

std::optional<uint64_t> bootTime(std::string_view procStat) {
  return vmstatField(procStat, "btime");
}

std::optional<std::string> plistString(std::string_view xml, std::string_view key) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default)) return std::nullopt;
  auto dict = doc.child("plist").child("dict");
  for (auto node = dict.first_child(); node; node = node.next_sibling()) {
    if (std::string_view(node.name()) != "key" || node.child_value() != key) continue;
    auto value = node.next_sibling();
    if (std::string_view(value.name()) != "string") return std::nullopt;
    return std::string(value.child_value());
  }
  return std::nullopt;
}

}  // namespace norvo::platform::parse
