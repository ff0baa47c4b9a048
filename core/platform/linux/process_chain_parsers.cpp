#include "core/platform/linux/process_chain_parsers.hpp"

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

std::optional<ProcessStat> processStat(std::string_view text) {
  auto open = text.find('(');
  auto close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  ProcessStat out;
  out.comm = std::string(text.substr(open + 1, close - open - 1));
  // Fields after the name, starting with field 3 (state).
  std::string_view rest = text.substr(close + 1);
  int field = 2;
  size_t pos = 0;
  bool havePpid = false, haveStart = false;
  while (pos < rest.size()) {
    while (pos < rest.size() && rest[pos] == ' ') ++pos;
    if (pos >= rest.size()) break;
    auto end = rest.find(' ', pos);
    if (end == std::string_view::npos) end = rest.size();
    auto token = text_file::trim(rest.substr(pos, end - pos));
    ++field;
    if (field == 4) {
      auto ppid = text_file::parseSigned(token);
      if (!ppid || *ppid < 0 || *ppid > INT32_MAX) return std::nullopt;
      out.ppid = static_cast<int32_t>(*ppid);
      havePpid = true;
    } else if (field == 22) {
      auto start = text_file::parseUnsigned(token);
      if (!start) return std::nullopt;
      out.startTicks = *start;
      haveStart = true;
      break;
    }
    pos = end;
  }
  if (!havePpid || !haveStart) return std::nullopt;
  return out;
}

std::string commandLine(std::string_view raw) {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
  std::string joined(raw);
  for (auto& c : joined)
    if (c == '\0') c = ' ';
  size_t points = 0;
  for (size_t i = 0; i < joined.size(); ++i) {
    if ((static_cast<unsigned char>(joined[i]) & 0xC0) == 0x80) continue;
    if (points == 400) return joined.substr(0, i) + "…";
    ++points;
  }
  return joined;
}

std::optional<uint64_t> bootTime(std::string_view procStat) {
  size_t pos = 0;
  while (pos < procStat.size()) {
    auto end = procStat.find('\n', pos);
    if (end == std::string_view::npos) end = procStat.size();
    auto row = procStat.substr(pos, end - pos);
    if (row.substr(0, 6) == "btime ")
      return text_file::parseUnsigned(text_file::trim(row.substr(6)));
    pos = end + 1;
  }
  return std::nullopt;
}

}  // namespace norvo::platform::parse
