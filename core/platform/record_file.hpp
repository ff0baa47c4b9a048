// Whole-file record exchange between the product's processes. Writers replace
// a file atomically (temporary file in the same folder, fsync, rename), so a
// reader in another process sees the old record or the new one, never a mix.
// No locks are taken anywhere.
#pragma once

#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/json_codec.hpp"

namespace norvo::record_file {

// The outcome of a write: true on success; otherwise `error` says what failed
// and why, as "cannot write FILE: REASON" with the system's reason.
struct Written {
  std::string error;
  explicit operator bool() const { return error.empty(); }
};

// Whether missing parent folders are made. The store makes its own folders;
// a file the owner names (widget --out) goes only into a folder that exists.
enum class Folders { create, mustExist };

// Replaces `target` with `bytes`. On failure the old content is untouched;
// never throws.
Written writeAtomically(const std::filesystem::path& target, std::string_view bytes,
                        Folders folders = Folders::create);

// Removes from `folder` (not below it) the temporary files of writes whose
// process no longer runs: what a writer killed between create and rename
// left behind. A temporary of a live process is left alone, whatever its age.
// Returns how many were removed; never throws.
int sweepStaleTemporaries(const std::filesystem::path& folder);

// Whether a symbolic link in place of the file is followed. Files the owner
// edits (the configuration) may be links; records other processes share are
// not, and a link planted there must never lead a reader out of the store.
enum class Links { follow, refuse };

// The whole file, or absent when it is missing, unreadable, larger than
// `maxBytes` (records are small; a huge file is not ours), or not a regular
// file: a FIFO or device under a record's name is refused, never waited on.
std::optional<std::string> readWhole(const std::filesystem::path& path,
                                     size_t maxBytes = 64u * 1024 * 1024,
                                     Links links = Links::follow);

// Encodes with the shared encoder and writes atomically. Never throws.
template <typename T>
Written write(const T& value, const std::filesystem::path& target) {
  try {
    return writeAtomically(target, json_codec::encodeRecord(value));
  } catch (const std::bad_alloc&) {
    return {"cannot write " + target.string() + ": out of memory"};
  }
}

// Missing, unreadable, empty or wrongly shaped files all read as absent.
template <typename T>
std::optional<T> read(const std::filesystem::path& path, Links links = Links::follow) {
  auto bytes = readWhole(path, 64u * 1024 * 1024, links);
  if (!bytes) return std::nullopt;
  return json_codec::decodeAs<T>(*bytes);
}

}  // namespace norvo::record_file
