// Pure parsers for the few per-process /proc texts that the name lookup needs.
// They take the file's content, never touch the file system, and return absent
// (or empty) for text they cannot make sense of.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::parse {

// The real user id from the "Uid:" line of /proc/<pid>/status (proc(5): real,
// effective, saved set, file system).
std::optional<uint32_t> statusRealUid(std::string_view text);

// /proc/<pid>/comm without its line feed. Only the one trailing line feed the
// kernel adds is dropped: a name may itself end in spaces.
std::string commName(std::string_view text);

// The last path component of the first argument in /proc/<pid>/cmdline
// (NUL-separated); empty for kernel threads, whose cmdline is empty.
std::string cmdlineName(std::string_view text);

// True for the names of per-process entries in /proc: decimal digits only.
bool isPidEntry(std::string_view name);

}  // namespace norvo::platform::parse
