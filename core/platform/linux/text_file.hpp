// Small reads of /proc and /sys files. Every reader here returns absent rather
// than throwing; `lastReadFailure` tells why, for the few callers that must tell
// a vanished process from one they may not read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::text_file {

enum class ReadFailure {
  none,
  vanished,  // ENOENT, ESRCH: the file or the process behind it is gone
  denied,    // EACCES, EPERM: it exists but is not ours to read
  other,
};

// One place to translate errno for every reader.
ReadFailure classifyErrno(int err);

struct ReadResult {
  std::optional<std::string> text;
  ReadFailure failure = ReadFailure::none;
};

// Reads up to `maxBytes` (procfs files report size 0, so the size is not trusted).
ReadResult read(const std::filesystem::path& path, size_t maxBytes = 1u << 20);

// The text, or absent on any failure.
std::optional<std::string> readText(const std::filesystem::path& path, size_t maxBytes = 1u << 20);

// The first line without surrounding white space; absent when missing or empty.
std::optional<std::string> readLine(const std::filesystem::path& path);

// A whole decimal integer file such as sysfs attributes ("42\n").
std::optional<int64_t> readInt(const std::filesystem::path& path);

std::string_view trim(std::string_view text);

// Strict decimal parses of a whole token; absent for anything else.
std::optional<uint64_t> parseUnsigned(std::string_view token);
std::optional<int64_t> parseSigned(std::string_view token);
std::optional<double> parseDouble(std::string_view token);

}  // namespace norvo::platform::text_file
