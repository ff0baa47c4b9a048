// What the self-update does to the files it downloaded: their SHA-256, the
// maker's Ed25519 signature over them, and unpacking a release tarball into
// a folder without ever writing outside it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform {

// Why the digest and signature checks below cannot run on this machine (the
// library they use did not load), absent when they can. Their own answers
// cannot tell that apart from a wrong digest or signature.
std::optional<std::string> signatureCheckUnavailable();

// The SHA-256 of the file as lower-case hexadecimal; absent when it cannot be read.
std::optional<std::string> sha256Hex(const std::filesystem::path& file);

// Whether `signature` (64 bytes) is the Ed25519 signature of the file's bytes
// under `publicKey` (the 32 raw bytes). False for any malformed input or an
// unreadable file.
bool ed25519Verifies(const std::filesystem::path& file, std::string_view signature,
                     std::string_view publicKey);

// Unpacks the (compressed) tar archive `tarball` into the existing folder
// `into`. The whole archive is looked at first: an absolute path, a ".."
// component, a link whose target leaves the folder, or an entry other than a
// file, folder or link refuses it with nothing written. Returns the reason
// of a refusal or failure, absent on success.
std::optional<std::string> unpackTarball(const std::filesystem::path& tarball,
                                         const std::filesystem::path& into);

}  // namespace norvo::platform
