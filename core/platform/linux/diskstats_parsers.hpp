// /proc/diskstats (Documentation/admin-guide/iostats.rst) and which of its
// devices are whole disks. Pure functions over the file's text and names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::platform::parse {

struct DiskCounters {
  std::string name;
  uint64_t sectorsRead = 0;  // always 512-byte units, whatever the device's block size
  uint64_t sectorsWritten = 0;

  friend bool operator==(const DiskCounters&, const DiskCounters&) = default;
};

// Every line with at least the classic fourteen fields, all of them numbers
// after the name; other lines are skipped.
std::vector<DiskCounters> diskstats(std::string_view text);

// Devices whose traffic is not disk traffic of their own: loop and RAM
// disks, compressed RAM (zram), and device-mapper and software-RAID devices,
// whose I/O is counted again on the disks beneath them.
bool isVirtualBlockDevice(std::string_view name);

// For when /sys/block cannot be listed: partitions by the kernel's naming
// (sda1, vdb2, nvme0n1p1, mmcblk0p1).
bool looksLikePartition(std::string_view name);

}  // namespace norvo::platform::parse
