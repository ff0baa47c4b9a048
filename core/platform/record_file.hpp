// Whole-file record exchange between the product's processes. Writers replace
// a file atomically (temporary file in the same folder, fsync, rename), so a
// reader in another process sees the old record or the new one, never a mix.
// No locks are taken anywhere.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/json_codec.hpp"

namespace norvo::record_file {

// Replaces `target` with `bytes`. Creates missing parent folders. Returns false
// on any failure (the old content is then untouched); never throws.
bool writeAtomically(const std::filesystem::path& target, std::string_view bytes);

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

// Encodes with the shared encoder and writes atomically; false when the write
// did not happen. Never throws: a store that cannot be written behaves as if
// the write had not been asked for.
template <typename T>
bool write(const T& value, const std::filesystem::path& target) {
  try {
    return writeAtomically(target, json_codec::encodeRecord(value));
  } catch (...) {
    return false;  // out of memory while encoding
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
