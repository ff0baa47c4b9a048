// Pure parsers for the machine's identity: processor name, distribution
// name and boot time. They take file contents and never touch the disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::parse {

// /proc/cpuinfo: the first "model name" (x86), else "Model" or "Hardware"
// (ARM boards name the system-on-chip there); absent when none.
std::optional<std::string> cpuModelName(std::string_view cpuinfo);

// os-release(5): PRETTY_NAME, else NAME and VERSION; quotes removed.
std::optional<std::string> osPrettyName(std::string_view osRelease);

// "Debian GNU/Linux 12 (bookworm), Linux 6.1.0": either half may be missing;
// absent when both are.
std::optional<std::string> osVersionText(const std::optional<std::string>& prettyName,
                                         const std::optional<std::string>& kernelRelease);

}  // namespace norvo::platform::parse
