// Report trees written out by hand for the advice and digest tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/disk/disk_report.hpp"

namespace norvo::test {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kGiB = 1024 * kMiB;

// A folder node of `bytes` with the given children, named after its path.
inline DiskUsage::Node folder(const std::string& path, int64_t bytes,
                              std::vector<DiskUsage::Node> kids = {}) {
  DiskUsage::Node n;
  n.name = DiskUsage::lastComponent(path);
  n.path = path;
  n.bytes = bytes;
  n.children = std::move(kids);
  return n;
}

}  // namespace norvo::test
