#include "core/platform/linux/text_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace norvo::platform::text_file {

ReadFailure classifyErrno(int err) {
  switch (err) {
    case 0: return ReadFailure::none;
    case ENOENT:
    case ESRCH:
    case ENOTDIR: return ReadFailure::vanished;
    case EACCES:
    case EPERM: return ReadFailure::denied;
    default: return ReadFailure::other;
  }
}

ReadResult read(const std::filesystem::path& path, size_t maxBytes) {
  ReadResult result;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.failure = classifyErrno(errno);
    return result;
  }
  std::string out;
  char buf[8192];
  while (out.size() < maxBytes) {
    size_t want = std::min(sizeof buf, maxBytes - out.size());
    ssize_t n = ::read(fd, buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.failure = classifyErrno(errno);
      ::close(fd);
      return result;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  result.text = std::move(out);
  return result;
}

std::optional<std::string> readText(const std::filesystem::path& path, size_t maxBytes) {
  return read(path, maxBytes).text;
}

std::string_view trim(std::string_view text) {
  const char* ws = " \t\r\n\v\f";
  auto b = text.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  auto e = text.find_last_not_of(ws);
  return text.substr(b, e - b + 1);
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < line.size()) {
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string_view::npos) break;
    size_t end = line.find_first_of(" \t", pos);
    if (end == std::string_view::npos) end = line.size();
    out.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

std::optional<std::string> readLine(const std::filesystem::path& path) {
  auto text = readText(path, 64 * 1024);
  if (!text) return std::nullopt;
  std::string_view view = *text;
  view = view.substr(0, view.find('\n'));
  view = trim(view);
  if (view.empty()) return std::nullopt;
  return std::string(view);
}

std::optional<int64_t> readInt(const std::filesystem::path& path) {
  auto line = readLine(path);
  if (!line) return std::nullopt;
  return parseSigned(*line);
}

std::optional<uint64_t> parseUnsigned(std::string_view token) {
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || ptr != token.data() + token.size() || token.empty()) return std::nullopt;
  return value;
}

std::optional<int64_t> parseSigned(std::string_view token) {
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || ptr != token.data() + token.size() || token.empty()) return std::nullopt;
  return value;
}

std::optional<double> parseDouble(std::string_view token) {
  if (token.empty()) return std::nullopt;
  // from_chars for double is in g++ 11+, and unlike strtod ignores the locale.
  double value = 0;
  auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || ptr != token.data() + token.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace norvo::platform::text_file
