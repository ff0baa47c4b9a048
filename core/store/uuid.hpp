// Identities of the records agents file in the store. Each is an RFC 4122
// version-4 UUID in upper case with hyphens, the form that also names the
// record's file.
#pragma once

#include <string>
#include <string_view>

namespace norvo::uuid {

// A fresh random UUID from the kernel's random source; falls back to the C++
// library's random device if the kernel call is unavailable. Never throws.
std::string make();

// True for the canonical 36-character form (8-4-4-4-12 hexadecimal digits,
// either case). Says nothing about the version.
bool isCanonical(std::string_view text);

}  // namespace norvo::uuid
