// Whole-file record exchange between the product's processes. Writers replace
// a file atomically (temporary file in the same folder, fsync, rename), so a
// reader in another process sees the old record or the new one, never a mix.
// No locks are taken anywhere.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/store/json_codec.hpp"

namespace norvo::record_file {

// Replaces `target` with `bytes`. Creates missing parent folders. Returns false
// on any failure (the old content is then untouched); never throws.
bool writeAtomically(const std::filesystem::path& target, std::string_view bytes);

// The whole file, or absent when it is missing, unreadable or larger than
// `maxBytes` (records are small; a huge file is not ours).
std::optional<std::string> readWhole(const std::filesystem::path& path,
                                     size_t maxBytes = 64u * 1024 * 1024);

// Encodes with the shared encoder and writes atomically. Errors are swallowed:
// a store that cannot be written behaves as if the write had not happened.
template <typename T>
void write(const T& value, const std::filesystem::path& target) {
  try {
    writeAtomically(target, json_codec::encodeRecord(value));
  } catch (...) {
    // Encoding a record cannot fail for our types; this guards the contract.
  }
}

// Missing, unreadable, empty or wrongly shaped files all read as absent.
template <typename T>
std::optional<T> read(const std::filesystem::path& path) {
  auto bytes = readWhole(path);
  if (!bytes) return std::nullopt;
  return json_codec::decodeAs<T>(*bytes);
}

}  // namespace norvo::record_file
