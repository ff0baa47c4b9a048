// Pure parsers for what a Linux app states about its updates. They take text
// and never touch the file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/update_source.hpp"

namespace norvo::platform::parse {

// The origin remote of a Flatpak deployment from its "deploy" file: a GVariant
// whose first member is the origin's name, stored first and ended by a NUL.
// Absent when that text is empty or not printable.
std::optional<std::string> flatpakOrigin(std::string_view deploy);

// The "url" of `[remote "NAME"]` in a Flatpak repository's "config" (an INI
// file); absent when the group or key is missing.
std::optional<std::string> remoteUrl(std::string_view config, std::string_view name);

// Whether a remote address is Flathub's repository (a host of flathub.org,
// such as dl.flathub.org).
bool isFlathub(std::string_view url);

// The "X-Appcast" value of the "[Desktop Entry]" group.
std::optional<std::string> desktopAppcast(std::string_view text);

// The first three numbers of a kernel release ("6.1.0-18-amd64").
OSVersion kernelVersion(std::string_view release);

}  // namespace norvo::platform::parse
