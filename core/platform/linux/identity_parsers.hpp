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

// What the firmware's DMI table says about the machine (/sys/class/dmi/id).
struct DmiIdentity {
  std::optional<std::string> vendor;          // sys_vendor
  std::optional<std::string> productName;     // product_name
  std::optional<std::string> productVersion;  // product_version
  std::optional<std::string> productFamily;   // product_family
};

// The model as people know it, "Lenovo ThinkPad X1 Carbon Gen 9": the first
// of product name, version and family that is neither a vendor's placeholder
// ("To Be Filled By O.E.M.", "System Product Name", …) nor a part number
// ("20XW0055GE", where the human name is in the version), else the part
// number; led by the vendor's first word unless the name already starts with
// it. Absent when the table names nothing.
std::optional<std::string> machineModel(const DmiIdentity& dmi);

// os-release(5): PRETTY_NAME, else NAME and VERSION; quotes removed.
std::optional<std::string> osPrettyName(std::string_view osRelease);

// "Debian GNU/Linux 12 (bookworm), Linux 6.1.0": either half may be missing;
// absent when both are.
std::optional<std::string> osVersionText(const std::optional<std::string>& prettyName,
                                         const std::optional<std::string>& kernelRelease);

}  // namespace norvo::platform::parse
