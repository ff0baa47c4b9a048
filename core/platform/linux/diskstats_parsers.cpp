#include "core/platform/linux/diskstats_parsers.hpp"

#include <cctype>

#include "core/platform/linux/text_file.hpp"

namespace norvo::platform::parse {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::vector<DiskCounters> diskstats(std::string_view text) {
  std::vector<DiskCounters> out;
  for (std::string_view line : text_file::lines(text)) {
    auto f = text_file::fields(line);
    // major minor name reads merged sectors ms writes merged sectors …
    if (f.size() < 14) continue;
    bool numeric = true;
    for (size_t i = 3; i < 14; ++i) numeric = numeric && text_file::parseUnsigned(f[i]);
    if (!numeric) continue;
    auto read = text_file::parseUnsigned(f[5]);
    auto written = text_file::parseUnsigned(f[9]);
    if (!read || !written) continue;
    out.push_back({std::string(f[2]), *read, *written});
  }
  return out;
}

bool isVirtualBlockDevice(std::string_view name) {
  for (std::string_view p : {"loop", "ram", "zram", "dm-", "md"})
    if (startsWith(name, p)) return true;
  return false;
}

bool looksLikePartition(std::string_view name) {
  if (name.empty() || !isDigit(name.back())) return false;
  // nvme0n1p2, mmcblk0p1: the partition follows a "p" after the device's digits.
  if (startsWith(name, "nvme") || startsWith(name, "mmcblk")) {
    auto p = name.find_last_of('p');
    return p != std::string_view::npos && p > 0 && isDigit(name[p - 1]);
  }
  // sda1, vdb2, xvda1, hdc3: letters name the disk, digits the partition.
  for (std::string_view p : {"sd", "vd", "xvd", "hd"})
    if (startsWith(name, p)) return true;
  return false;
}

}  // namespace norvo::platform::parse
