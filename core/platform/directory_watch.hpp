// Waking up when another process finishes a file in a folder, instead of
// polling it: the store's writers replace records by renaming a finished
// temporary over the name, so a rename into the folder (or a write closed in
// it) is the moment a reader can trust the new record.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace norvo::platform {

class DirectoryWatch {
 public:
  // Watches each folder of `folders`, which must exist. On failure returns
  // absent and sets `error` to "cannot watch FOLDER: REASON".
  static std::optional<DirectoryWatch> open(const std::vector<std::filesystem::path>& folders,
                                            std::string& error);

  DirectoryWatch(DirectoryWatch&& other) noexcept;
  DirectoryWatch& operator=(DirectoryWatch&& other) noexcept;
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;
  ~DirectoryWatch();

  // A descriptor that polls readable when changes wait, for loops that
  // wait on other descriptors too; read them with `changes(0)`.
  int fd() const { return fd_; }

  // The files finished, moved in or removed in the watched folders (folder /
  // name, in the kernel's order, repeats kept), waiting at most `timeout` for
  // the first one; empty when none came. A watched folder that went away is
  // reported as itself.
  std::vector<std::filesystem::path> changes(std::chrono::milliseconds timeout);

 private:
  DirectoryWatch(int fd, std::vector<std::pair<int, std::filesystem::path>> watches)
      : fd_(fd), watches_(std::move(watches)) {}
  int fd_ = -1;
  std::vector<std::pair<int, std::filesystem::path>> watches_;  // descriptor, folder
};

}  // namespace norvo::platform
