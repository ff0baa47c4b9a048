// The small pure rules of the cleanup catalogue, fed with literal text in the
// tests: version names and numbers, Homebrew's dry run, the JSON of xcrun
// simctl, which files count as logs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/json_codec.hpp"

namespace norvo::Cleanup::parsers {

// Whether a folder or file name is a bare version ("1.2.3", "v20.11.0",
// "2.0.14-beta.1"): ^v?\d+(\.\d+){1,3}([-+._][\w.]+)?$.
bool isVersionName(std::string_view name);

// The numbers of the first version found in `text` by
// (?<![\d,])\d+(\.\d+){1,3}: "Tool-2.10.1.AppImage" gives {2, 10, 1}; empty
// when there is none. Parts too long for 64 bits read as the largest value.
std::vector<int64_t> versionNumbers(std::string_view text);

// Negative, zero or positive as version `a` is lower than, equal to or higher
// than `b`, part by part, a missing part counting as 0.
int compareVersions(const std::vector<int64_t>& a, const std::vector<int64_t>& b);

// Homebrew's "approximately 1.2GB" in bytes (B, KB = 1000, MB, GB, TB);
// absent when the dry run does not say.
std::optional<int64_t> brewFreedBytes(std::string_view dryRunOutput);
// The paths of the dry run's "Would remove: " lines, without the size
// Homebrew appends in parentheses.
std::vector<std::string> brewRemovedPaths(std::string_view dryRunOutput);

// The "dataPath" of every device in `xcrun simctl list devices unavailable -j`.
std::vector<std::string> unavailableDevicePaths(std::string_view json);

struct Runtime {
  std::string id;
  std::string platform;  // "iOS", "watchOS", "tvOS", "visionOS" or the identifier
  std::string version;
  std::vector<int64_t> v;
  int64_t bytes = 0;
  std::optional<Date> used;
  bool deletable = false;
};

// The runtimes of `xcrun simctl runtime list -j`; entries without an
// identifier are left out.
std::vector<Runtime> runtimes(std::string_view json);

// The runtimes the "old-simulator-runtimes" item removes: deletable, not the
// newest of their platform, and not used in the 30 days before `now`
// (never used counts as not used).
std::vector<Runtime> oldRuntimes(const std::vector<Runtime>& all, Date now);

// Whether a file found below a state or cache folder is a log: its name ends
// in ".log" (rotated copies too: ".log.1", ".log.gz", ".log.2.xz"), or a folder
// on the way to it (`relative`, from the searched folder) is named "log",
// "logs", "crashes" or "crash reports" (any case).
bool isLogFile(std::string_view relative);

}  // namespace norvo::Cleanup::parsers
