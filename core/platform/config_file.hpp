// The owner's configuration files of other programs (Claude Code, Claude
// Desktop, Codex, Gemini) as the product edits them, and the link that puts
// `zemnorvo` on the owner's path. Editing follows one rule: a file this side
// cannot read whole, as a plain file, is left exactly as it is.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace norvo::platform {

struct ConfigRead {
  enum class State {
    read,     // `bytes` holds the whole file
    missing,  // nothing there (the folder may be missing too)
    refused,  // something there that must not be edited; `reason` says why
  };
  State state = State::missing;
  std::string bytes;
  std::string reason;  // "is a folder", "is a symbolic link", "Permission denied", …
  mode_t mode = 0644;  // permission bits of the file read, kept by the rewrite
};

// Reads `path` whole without waiting on it (a FIFO or device is refused, not
// opened for reading). With `followLinks` false a symbolic link at `path` is
// refused: replacing it would cut the owner's link to the file it names.
// Larger than `maxBytes` is refused. Never throws.
ConfigRead readConfigFile(const std::filesystem::path& path, size_t maxBytes, bool followLinks);

// Writes `bytes` to `path` only when nothing is there yet (not even a
// dangling link), with permission bits `mode`. True when written or already
// present; otherwise `error` says why. Never throws.
bool writeBackupOnce(const std::filesystem::path& path, const std::string& bytes, mode_t mode,
                     std::string& error);

// Creates the folder of `path` with intermediates and replaces `path`
// atomically with `bytes` with permission bits `mode`. Empty on success,
// else "cannot write PATH: REASON". Never throws.
std::string replaceConfigFile(const std::filesystem::path& path, const std::string& bytes,
                              mode_t mode);

// Whether `path` names an executable regular file, following links.
bool isExecutableFile(const std::filesystem::path& path);

// Whether anything (a dangling link too) exists at `path`.
bool existsNoFollow(const std::filesystem::path& path);

// The link at `path`, as written in it; absent when `path` is not a link.
std::optional<std::string> linkTarget(const std::filesystem::path& path);

// Whether `a` and `b` lead to the same file (after links); false when either
// is missing.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Replaces whatever link or file is at `path` with a symbolic link to
// `target`, creating the folder first. A folder at `path` is never removed.
// Empty on success, else the reason.
std::string placeLink(const std::filesystem::path& path, const std::string& target);

// Removes `path` when it is a symbolic link; anything else is left. Never throws.
void removeLink(const std::filesystem::path& path);

}  // namespace norvo::platform
