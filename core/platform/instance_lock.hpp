// Makes a long-running command unique for the user: an exclusive lock on a
// file in the store directory, held while the process lives. The kernel drops
// the lock when the process ends however it ends (flock(2)), so a crash never
// leaves a stale lock behind, unlike a pid file checked by hand.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace norvo::platform {

class InstanceLock {
 public:
  enum class Outcome { acquired, heldElsewhere };

  // Takes the lock on `file`, creating it (and its folder) owner-only. On
  // `heldElsewhere` the lock stays with its holder and this object holds
  // nothing. Throws std::system_error when the file cannot be opened or locked
  // for another reason than someone else holding it.
  explicit InstanceLock(const std::filesystem::path& file);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }

  // The pid the holder wrote into the file, when it can be read; absent when
  // the file holds anything else (an older holder may still be writing it).
  std::optional<pid_t> holder() const;

 private:
  std::filesystem::path file_;
  int fd_ = -1;
  Outcome outcome_ = Outcome::heldElsewhere;
};

}  // namespace norvo::platform
