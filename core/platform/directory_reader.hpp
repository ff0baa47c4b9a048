// The disk scanner's view of the file system: one folder at a time, opened
// relative to its parent's descriptor, listed in large batches, and each entry
// examined without following links. The scanner keeps one reader per level of
// its walk and reuses them, so a walk allocates a buffer per level once.
//
// Descriptors are a limited resource and a tree may be deeper than the
// process may hold open. A reader can therefore be suspended (descriptor and
// buffer released, the position in the listing kept) and resumed later from
// its open child through "..", checked against the folder's identity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace norvo::platform {

enum class EntryType { folder, file, link, other };

// What the scanner needs of one entry; times are whole seconds since 1970.
struct EntryStatus {
  EntryType type = EntryType::other;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t links = 1;
  int64_t allocatedBytes = 0;  // allocated blocks × 512, not the logical length
  int64_t modified = 0;
  int64_t created = 0;  // 0 when the file system does not keep it
};

enum class OpenOutcome { opened, denied, gone };

class DirectoryReader {
 public:
  DirectoryReader();
  ~DirectoryReader();
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // Opens `path` (links in it are followed: the owner named it). `status`
  // receives the folder's own status on success.
  OpenOutcome openPath(const std::string& path, EntryStatus& status);
  // Opens the entry `name` of `parent`, refusing to follow a link; `expected`
  // is the status the parent's listing gave (its identity is kept for resume).
  // `name` is NUL-terminated (the views `next` hands out are).
  OpenOutcome openChild(const DirectoryReader& parent, const char* name,
                        const EntryStatus& expected);

  // The next entry name ("." and ".." left out); false at the end of the
  // listing or on a read error. The view lives until the next call and is
  // followed by a NUL in memory.
  bool next(std::string_view& name);

  // The status of the entry `name` of this folder, links not followed; false
  // when it vanished or cannot be examined.
  bool status(const char* name, EntryStatus& out) const;

  // Releases the descriptor and the buffer, remembering where the listing
  // stands; `resume` picks it up again.
  void suspend();
  bool suspended() const { return suspended_; }
  // Reopens a suspended folder as the parent of `child` (which must be open)
  // and goes back to the remembered position; false when the folder is no
  // longer `child`'s parent or cannot be read again.
  bool resume(const DirectoryReader& child);

  void close();
  bool isOpen() const { return fd_ >= 0; }

  static constexpr size_t kBufferBytes = 64 * 1024;

 private:
  bool fill();

  int fd_ = -1;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  std::unique_ptr<char[]> buffer_;
  long filled_ = 0;
  long offset_ = 0;
  int64_t resumeAt_ = 0;  // the listing position after the last entry handed out
  bool suspended_ = false;
  bool ended_ = false;
};

}  // namespace norvo::platform
